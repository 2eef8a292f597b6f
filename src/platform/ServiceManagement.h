#pragma once
// The login item of the main application.

#include <optional>
#include <string>

struct NSError {
  std::string localizedDescription;
};

class SMAppService {
 public:
  enum class Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };
  static SMAppService mainAppService() { return {}; }
  Status status() const;
  /// Nothing on success, the error otherwise.
  std::optional<NSError> registerService() const;
  std::optional<NSError> unregisterService() const;
  /// Opens System Settings at the Login Items pane, where the user approves the item.
  static void openSystemSettingsLoginItems();
};
