#include "platform/ApplicationServices.h"

#include "platform/SystemPort.h"

bool AXIsProcessTrusted() { return platform::system().accessibilityTrusted(false); }

bool AXIsProcessTrustedWithOptions(bool prompt) { return platform::system().accessibilityTrusted(prompt); }
