#include "platform/OncePerSystem.h"

#include "platform/SystemPort.h"

namespace platform {

SystemStamp SystemStamp::now() { return SystemStamp(systemGeneration()); }

bool SystemStamp::isCurrent() const { return generation_ != 0 && generation_ == systemGeneration(); }

}  // namespace platform
