// A snapshot taken by a program attached to a host: the same as in process, read with a
// handful of questions, and never from answers kept across a change of the desk.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/SystemPort.h"
#include "platform/WindowServerPort.h"
#include "platform/host/Remote.h"
#include "platform/sim/AccessibilityServer.h"
#include "support/LargeDesk.h"
#include "support/Served.h"
#include "workspace/DesktopFrames.h"
#include "workspace/WorkspaceTypes.h"

namespace trelliq {
namespace {

// Every tile with what the switcher shows of each window.
std::vector<std::string> describe(const Workspace& workspace) {
  std::vector<std::string> lines = workspace.shape();
  for (const DisplayGroup& display : workspace.displays) {
    for (const SpaceGroup& space : display.spaces) {
      for (const Cluster& tile : space.clusters) {
        for (const WindowInfo& w : tile.windows) {
          lines.push_back(tile.id + " " + std::to_string(w.windowID.value_or(0)) + " " + w.title.value_or("-") +
                          (w.fullScreen ? " full" : "") + (w.element ? " ax" : ""));
        }
      }
    }
  }
  return lines;
}

class AttachedSnapshot : public ::testing::Test {
 protected:
  AttachedSnapshot() {
    DesktopFrames::reset();
    pids = buildLargeDesk(scene, LargeDeskSize::quarter());
    scene.windowServer.makeFrontmost(pids.front());
  }
  ~AttachedSnapshot() override { DesktopFrames::reset(); }

  // The snapshot through the world itself, then through the host: they must agree.
  void expectTheSame(const std::string& after) {
    platform::installSystem(&scene.world);
    platform::installWindowServer(&scene.windowServer);
    const auto inProcess = describe(Workspace::load(Settings::Desktops::always, false));
    platform::installSystem(attachment.remote()->system.get());
    platform::installWindowServer(attachment.remote()->windowServer.get());
    const std::uint64_t before = attachment.remote()->connection->calls();
    EXPECT_EQ(describe(Workspace::load(Settings::Desktops::always, false)), inProcess) << after;
    questions = attachment.remote()->connection->calls() - before;
  }

  Scene scene;
  std::vector<std::int32_t> pids;
  Attachment attachment{scene, Served::remote};
  std::uint64_t questions = 0;
};

TEST_F(AttachedSnapshot, IsTheSnapshotInProcessReadWithAHandfulOfQuestions) {
  expectTheSame("first snapshot");
  // 15 apps and 400 windows, each asked its subrole, title, state, number and Spaces:
  // about 2,200 questions when asked one by one.
  EXPECT_LE(questions, 25u) << "questions for one snapshot";
  expectTheSame("nothing changed");
  EXPECT_LE(questions, 3u) << "questions for a snapshot of an unchanged desk (its preferences)";
}

TEST_F(AttachedSnapshot, NeverAnswersFromBeforeAChange) {
  expectTheSame("first snapshot");
  const auto windows = scene.windowServer.windowsOf(pids[1]);
  ASSERT_GE(windows.size(), 3u);
  scene.windowServer.setWindowTitle(windows[0].number, "Renamed");
  expectTheSame("a window renamed");
  scene.windowServer.setMinimized(windows[1].number, true);
  expectTheSame("a window minimized");
  scene.windowServer.setWindowSpaces(windows[2].number, {scene.windowServer.currentSpaces().front()});
  expectTheSame("a window moved to another Space");
  scene.windowServer.setHidden(pids[2], true);
  expectTheSame("an app hidden");
  sim::AccessibilityServer::active()->setError(pids[3], kAXTitleAttribute, kAXErrorFailure);
  expectTheSame("an app that stopped giving titles");
  scene.world.setScreenCaptureAllowed(false);
  expectTheSame("screen capture taken away");
}

}  // namespace
}  // namespace trelliq
