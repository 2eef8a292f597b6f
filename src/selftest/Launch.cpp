#include "selftest/Launch.h"

#include <iostream>

#include "platform/Files.h"
#include "platform/SystemPort.h"
#include "selftest/Dispatch.h"
#include "settings/Diagnostics.h"
#include "settings/Settings.h"
#include "switcher/views/QtPanelViews.h"

namespace trelliq {

int launch(const std::vector<std::string>& args) {
  // The switcher draws its panels with the views from the start, self-tests included.
  views::installPanelViews();
  if (int status = dispatchSelfTests(args); status >= 0) return status;
  // Until the application shell stands, a normal start registers the options, logs
  // and says where its files live.
  Settings::registerDefaults();
  Diagnostics::log("launched");
  const std::string domain = platform::system().applicationDomainName();
  std::cout << "Trelliq started on the simulated Mac.\n"
            << "  diagnostics log: " << Diagnostics::url() << "\n"
            << "  user defaults:   "
            << platform::joinPath(platform::FileManager::homeDirectory(), "Library/Preferences/" + domain + ".plist")
            << "\n";
  return 0;
}

}  // namespace trelliq
