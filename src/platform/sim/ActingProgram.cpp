#include "platform/sim/WindowServer.h"

namespace sim {

namespace {
thread_local std::int32_t acting = 0;
}

WindowServer::ActingProgram::ActingProgram(std::int32_t pid) : previous_(acting) { acting = pid; }

WindowServer::ActingProgram::~ActingProgram() { acting = previous_; }

std::int32_t WindowServer::actingProgram() { return acting; }

}  // namespace sim
