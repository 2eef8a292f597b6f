#pragma once
// Accessibility trust.

bool AXIsProcessTrusted();
/// With `prompt`, the system asks the user once to grant the permission.
bool AXIsProcessTrustedWithOptions(bool prompt);
