#pragma once
// The trackpad's framework for a program attached to a host: stand-ins that forward each
// function to the host's world, with devices named by their ids, and the program's own
// frame callbacks, which the host's frames ("mtFrame" pushes) reach on the connection's
// push thread, the device's thread as far as the program can tell.

#include <atomic>
#include <string>

#include <nlohmann/json.hpp>

namespace host {

class Connection;

namespace multitouch {

/// The connection the stand-ins forward to (null: none; they then answer as a Mac
/// without the framework's devices would). Any thread.
void forwardTo(Connection* connection);
/// Stops forwarding to `connection` if the stand-ins still forward to it.
void stopForwarding(Connection* connection);
/// The stand-in for the framework's function `name`; null for any other name.
void* standIn(const std::string& name);
/// Hands a frame push to the callbacks registered for its device; false for a body it
/// cannot read. Push thread.
bool deliver(const nlohmann::json& body);

}  // namespace multitouch
}  // namespace host
