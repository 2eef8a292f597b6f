// Starting the simulated Mac for the running program, where a start must either give the
// whole desk or stop with a message.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/sim/SimulatedMac.h"
#include "platform/sim/World.h"

namespace {

using testing::HasSubstr;

// Points the simulated home at a fresh folder for the test's length.
class ChosenHome {
 public:
  ChosenHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trelliq-start-XXXXXX").string();
    home = ::mkdtemp(pattern.data()) ? pattern : std::string();
    if (const char* previous = std::getenv("TRELLIQ_HOME")) previous_ = previous;
    ::setenv("TRELLIQ_HOME", home.c_str(), 1);
  }
  ~ChosenHome() {
    if (previous_) {
      ::setenv("TRELLIQ_HOME", previous_->c_str(), 1);
    } else {
      ::unsetenv("TRELLIQ_HOME");
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
  }
  std::string home;

 private:
  std::optional<std::string> previous_;
};

TEST(SimulatedMacTest, ABuiltInDeskWhosePreferencesCannotBeWrittenStopsTheStart) {
  ChosenHome chosen;
  ASSERT_FALSE(chosen.home.empty());
  // A plain file where the Preferences folder belongs: no preference can be written.
  std::filesystem::create_directories(chosen.home + "/Library");
  ASSERT_TRUE(platform::FileManager::writeAtomically(chosen.home + "/Library/Preferences", "in the way"));
  {
    sim::SimulatedMac mac;
    std::vector<std::string> args;
    const auto problem = mac.start(args);
    ASSERT_TRUE(problem) << "started on a desk without its displays";
    EXPECT_THAT(*problem, HasSubstr("built-in scenario"));
    EXPECT_THAT(*problem, HasSubstr("cannot write"));
  }

  std::filesystem::remove(chosen.home + "/Library/Preferences");
  sim::SimulatedMac mac;
  std::vector<std::string> args;
  EXPECT_EQ(mac.start(args), std::nullopt);
  EXPECT_EQ(mac.world().screens().size(), 2u);
}

}  // namespace
