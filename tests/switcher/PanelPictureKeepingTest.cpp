// Window pictures in a session drawn by the real layout and views: pictures that arrive
// together go in together.

#include <map>
#include <memory>
#include <vector>

#include "SwitcherPanelsStage.h"
#include "support/WidgetsApp.h"
#include "switcher/layout/PanelLayout.h"
#include "switcher/views/QtPanelViews.h"

namespace trelliq::panels {
namespace {

class PanelPictureKeepingTest : public PanelsStage {
 protected:
  PanelPictureKeepingTest() {
    test::ensureWidgets();
    views_ = std::make_unique<views::QtPanelViews>([this](const scene::PanelLayoutInput& input) {
      ++layouts[input.index];
      return scene::layoutPanel(input);
    });
    PanelViews::install(views_.get());
  }
  ~PanelPictureKeepingTest() override {
    PanelViews::install(nullptr);
    views_.reset();
  }

  /// Delivered as the capture queue delivers a picture: through the main queue.
  void deliver(std::uint32_t window, const CGImageRef& image) {
    std::weak_ptr<Switcher> weak = switcher;
    platform::mainQueue().async([weak, window, image] {
      if (auto s = weak.lock()) s->thumbnailArrived(window, image);
    });
  }
  /// The windows the screen tiles of shown panels draw.
  std::vector<std::uint32_t> tiledWindows() const {
    std::vector<std::uint32_t> out;
    for (const DisplayGroup& d : switcher->model.workspace().displays) {
      for (const Cluster& c : d.clusters()) {
        if (!c.screen) continue;
        for (const WindowInfo& w : c.windows) {
          if (w.windowID) out.push_back(*w.windowID);
        }
      }
    }
    return out;
  }

  std::map<int, int> layouts;

 private:
  std::unique_ptr<views::QtPanelViews> views_;
};

TEST_F(PanelPictureKeepingTest, PicturesArrivingInOneFrameAreLaidOutOnceForEveryPanel) {
  setPreview("thumbnail");
  UserDefaults::standard().set("tiles", "windows");
  holdSession(1.5);
  ASSERT_TRUE(switcher->shown);
  const std::vector<std::uint32_t> windows = tiledWindows();
  ASSERT_GE(windows.size(), 4u);

  layouts.clear();
  std::vector<CGImageRef> sent;
  for (const std::uint32_t window : windows) {
    sent.push_back(picture(300, 200, 0xFF000000u | (window * 2654435761u >> 8)));
    deliver(window, sent.back());
  }
  scene.clock.advance(Switcher::pictureFrame);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    EXPECT_EQ(switcher->model.thumbnails().at(windows[i]), sent[i]) << "window " << windows[i];
  }
  ASSERT_FALSE(layouts.empty()) << "no panel took the pictures";
  for (const auto& [display, count] : layouts) EXPECT_EQ(count, 1) << "display " << display;
}

}  // namespace
}  // namespace trelliq::panels
