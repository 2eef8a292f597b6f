#pragma once
// The in-place preview: the ghost shows the selected window where it is, with a live
// capture every 0.1 s, over one backdrop per screen (the wallpaper's wash, a dark veil
// and, for a Space not on screen, its composed picture); a selected desktop shows as its
// Space's picture on the backdrop. Ghost and backdrops fade out and in around a
// full-screen change. Main thread, except the captures and the unpacking of kept Space
// pictures, which run on the "ghost" and "destination" queues and hand their pictures
// back on the main queue.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/AppKitWindows.h"
#include "platform/Clock.h"
#include "platform/Image.h"
#include "switcher/AlphaFader.h"
#include "switcher/LifeToken.h"
#include "switcher/PanelViews.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq {

/// A window of the switcher's own with picture layers: the ghost (one layer) and the
/// backdrops (wash, veil, destination: found by position, first and last).
struct LayeredWindow {
  std::unique_ptr<NSPanel> window;
  std::vector<std::unique_ptr<Layer>> layers;
};

class Ghost {
 public:
  /// What the ghost asks of its owner.
  struct Hooks {
    /// Whether a session shows its panels with the in-place preview now.
    std::function<bool()> showing;
    /// Whether a full-screen change is under way: the ghost holds still meanwhile.
    std::function<bool()> changingFullScreen;
  };
  enum class Fade { in, out };

  /// Follows the selection of `model`.
  Ghost(const SwitcherModel& model, Hooks hooks);
  ~Ghost();
  Ghost(const Ghost&) = delete;
  Ghost& operator=(const Ghost&) = delete;

  /// Brings ghost and backdrops in line with the selection; hides them when not showing;
  /// nothing during a full-screen change.
  void updateGhost();
  /// Stops the live capture, forgets window and desktop, orders ghost and backdrops out.
  void hideGhost();
  /// Stops the live capture only (ghost and backdrops stay as they are).
  void stopCapturing();
  /// The session is over: hides ghost and backdrops and lets go of every picture kept for
  /// it (the composed Spaces, the washes, the ghost's), which the next session takes anew
  /// anyway; compositions still running keep nothing when they finish.
  void sessionEnded();
  /// One capture of the ghost window on the "ghost" queue (at most one in flight).
  void captureGhost();
  /// Fades ghost and backdrops over 0.2 s. Out: once faded, hides them when a
  /// full-screen change is still under way and restores their alpha. In: follows the
  /// selection afresh first and captures the window at once.
  void fadeGhost(Fade direction);
  /// Empties the destination caches and composes what the snapshot may need, within
  /// `composedBudget`.
  void prebuildDestinations();
  /// The ghost's window, made on first use and kept for the process.
  LayeredWindow& panel();

  /// The window the ghost shows, or the Space whose desktop it shows.
  std::optional<std::uint32_t> shownWindow() const { return ghostWindow; }
  std::optional<std::int64_t> shownDesktop() const { return ghostDesktop; }
  bool isCapturing() const { return ghostCapturing; }
  /// One per screen, made when first needed.
  const std::vector<LayeredWindow>& backdropWindows() const { return backdrops; }
  /// Composed pictures by Space, packed: of its windows, of its desktop.
  const std::map<std::int64_t, PackedImageRef>& destinationPictures() const { return destinations; }
  const std::map<std::int64_t, PackedImageRef>& desktopPictures() const { return desktopDestinations; }
  /// The Spaces whose pictures are being composed.
  const std::set<std::int64_t>& composing() const { return building; }
  const std::set<std::int64_t>& composingDesktops() const { return buildingDesktops; }

 private:
  friend struct SwitcherPeer;

  /// Shows `space`'s desktop picture on `screen`'s backdrop (nothing when already shown).
  void showDesktop(std::int64_t space, const NSScreen& screen);
  /// Makes missing backdrops and shows those not visible (framed, washed, cleared).
  void showBackdrops();
  /// Loads `screen`'s current wallpaper into the backdrop's wash (first layer).
  void setWash(LayeredWindow& backdrop, const NSScreen& screen);
  /// Shows the composed picture of the window's Space on its screen, or clears all.
  void showDestination(std::uint32_t window);
  /// A Space's window picture to compose, or its desktop's.
  struct Composition {
    std::int64_t space = 0;
    NSScreen screen;
    bool fullScreen = false;
    bool desktop = false;
    /// Whether the selection waits for it: made ahead, it is handed back packed only.
    bool needed = false;
  };
  /// Composes a Space's window picture once at a time (`first`: before those waiting, as
  /// the selection needs it now); shows it if it still fits.
  void buildDestination(std::int64_t space, const NSScreen& screen, bool fullScreen, bool first);
  /// The same for a desktop picture, always first.
  void buildDesktopDestination(std::int64_t space, const NSScreen& screen);
  /// Queues a composition whose Space is marked in `building` or `buildingDesktops`.
  void queueComposition(Composition composition, bool first);
  /// Moves a waiting composition before the others.
  void bringForward(std::int64_t space, bool desktop);
  /// Starts the first waiting composition unless one is under way.
  void composeNext();
  /// Keeps a composed picture (packed) and shows it where it still fits.
  void composed(const Composition& composition, CGImageRef image, PackedImageRef packed);
  /// Shows a kept picture of `space` on `screen`'s backdrop: the pixels it still shows, or
  /// unpacked on the "ghost" queue and shown if the selection still wants them.
  void showKept(std::int64_t space, bool desktop, const PackedImageRef& packed, const NSScreen& screen);
  /// Whether the selection shows `space` (its desktop when `desktop`) on a backdrop.
  bool wants(std::int64_t space, bool desktop) const;
  /// Puts a composed picture on the backdrop of `screen`.
  void showComposed(const CGImageRef& image, const NSScreen& screen);
  /// The serial "ghost" queue (user-interactive).
  static platform::Executor& ghostQueue();
  /// Keeps a composed picture of `space` (a desktop's when `desktop`), letting the longest
  /// kept go while the pictures are past their budget.
  void keepComposed(std::int64_t space, bool desktop, PackedImageRef image);
  /// Forgets every composed picture.
  void forgetComposed();
  /// Whether the session that asks now still runs: false once it ended.
  std::function<bool()> sessionWanted() const;

  const SwitcherModel& model_;
  Hooks hooks_;
  std::unique_ptr<LayeredWindow> ghost;
  std::vector<LayeredWindow> backdrops;
  std::optional<std::uint32_t> ghostWindow;
  std::optional<std::int64_t> ghostDesktop;
  bool ghostCapturing = false;
  platform::Timer ghostTimer;
  // Packed: a display-sized picture kept for a Space nobody selected holds a fraction of
  // its pixels' bytes. The one shown is unpacked, and held by its backdrop only.
  std::map<std::int64_t, PackedImageRef> destinations, desktopDestinations;
  std::weak_ptr<const PackedImage> unpackedFrom_;
  std::weak_ptr<const CGImage> unpacked_;
  std::set<std::int64_t> building, buildingDesktops;
  /// The compositions waiting their turn, and whether one is under way (at most one is).
  std::deque<Composition> waiting_;
  bool composingOne_ = false;
  /// The composed pictures are kept: from a session's prebuild to its end.
  bool keeping_ = false;
  /// The composed pictures kept, oldest first, and their bytes.
  struct Composed {
    bool desktop = false;
    std::int64_t space = 0;
    const PackedImage* picture = nullptr;
    std::size_t bytes = 0;
  };
  std::vector<Composed> composedOrder_;
  std::size_t composedBytes_ = 0;

 public:
  /// Bytes of composed pictures (counted unpacked) a session keeps at most, and composes
  /// ahead: about one the size of each display of a desk of two (a desk of many Spaces
  /// would otherwise hold one for every Space, most never shown). A picture let go, or
  /// never composed ahead, is composed when its Space is selected.
  static constexpr std::size_t composedBudget = 24u << 20;
  AlphaFader fader_;
  /// Work handed to the queues holds this weakly: it does nothing once the ghost is gone.
  LifeToken life_;
  /// Compositions hold this weakly: renewed as a session ends, so those still queued are
  /// skipped rather than rendered for nobody.
  LifeToken sessionWork_;
};

}  // namespace trelliq
