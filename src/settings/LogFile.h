#pragma once
// The program's logs are appended and cut as the world host's are (platform/LogFile.h).

#include "platform/LogFile.h"

namespace trelliq {

using platform::LogFile;

}  // namespace trelliq
