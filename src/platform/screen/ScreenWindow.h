#pragma once
// The window in which a person uses the simulated Mac: every display side by side as the
// world composes it, repainted when the desk changes (as soon as the source tells of a
// change, or else as often as a display refreshes), and the keyboard and pointer posted
// to the world as a Mac's own hardware would post them. Main thread.

#include <QElapsedTimer>
#include <QImage>
#include <QRectF>
#include <QStaticText>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/CGEvent.h"
#include "platform/screen/ScreenLayout.h"
#include "platform/screen/ScreenSource.h"

namespace screen {

class ScreenWindow : public QWidget {
 public:
  /// Shows the world `source` reads (not owned; it must outlive the window), or, without
  /// one, only `problem`.
  ScreenWindow(ScreenSource* source, std::optional<std::string> problem);
  ~ScreenWindow() override;

  /// The host went away (any thread): says so, and after the notice's time ends the
  /// application with status 3.
  void hostLost(const std::string& why);
  void setNoticeMs(int ms) { noticeMs_ = ms; }
  /// Calls `painted` (main thread) once the window system has what a paint of the window
  /// drew (once for paints that come together): for whoever measures how long a change
  /// takes to show. Null stops it.
  void setPaintedListener(std::function<void()> painted) { painted_ = std::move(painted); }

  static constexpr int kFootHeight = 26;
  static constexpr double kCornerReach = 6;

  /// Reads the desk now as the next tick would (a test steps the screen with it).
  void refresh() { tick(); }
  /// Where the displays stand in the window.
  const Layout& layout() const { return layout_; }
  /// How many times the legend at the foot was drawn, and laid out.
  int legendsDrawn() const { return legendsDrawn_; }
  int legendsLaid() const { return legendsLaid_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void keyReleaseEvent(QKeyEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void wheelEvent(QWheelEvent*) override;
  bool focusNextPrevChild(bool) override { return false; }  // Tab belongs to the Mac

 private:
  /// Reads the change count and fetches what it says moved, then sets when to look again.
  void tick();
  void look();
  /// Told of a change: fetches at once, and again should the displays that came with the
  /// frames differ from those laid out. False when not told, or when the displays did not
  /// come with them (then the desk's count is read as without being told).
  bool fetchTold();
  void relayout();
  void fetch();
  /// The frames to ask for, one per display laid out, and in `areas` where each is drawn.
  std::vector<ScreenSource::Request> requests(std::map<std::uint32_t, QRectF>& areas) const;
  /// Takes the frames `answers` holds for `requests` and has what changed drawn again;
  /// whether anything is to be drawn.
  bool takeFrames(const std::vector<ScreenSource::Request>& requests, const std::map<std::uint32_t, QRectF>& areas,
                  std::map<std::uint32_t, ScreenSource::Frame> answers);
  void key(QKeyEvent* event, bool down);
  void pointer(CGEventType type, const QPointF& at, CGMouseButton button, std::int64_t clicks = 0);
  void post(const CGEvent& event);

  ScreenSource* source_;
  std::optional<std::string> problem_;
  QTimer timer_;
  QElapsedTimer sinceFetch_;
  Layout layout_;
  std::vector<DisplayPlace> places_;
  /// Each display's frame as last fetched (or the memory shared with the source it is
  /// read from), and its number to ask what changed since.
  struct Held {
    QImage image;
    std::shared_ptr<const platform::SharedSurface> shared;
    std::uint64_t sequence = 0;
    /// Whether it is a frame of `size` that pieces can be copied into.
    bool takesPieces(QSize size) const { return !image.isNull() && image.size() == size; }
  };
  std::map<std::uint32_t, Held> frames_;
  std::optional<std::uint64_t> generation_;
  bool changing_ = false;  // the last frames may change without the desk's generation moving
  bool stale_ = true;
  bool retry_ = false;     // a display's frame could not be had: it shows what it held, and is asked again
  bool told_ = false;      // the source tells of changes: the count is read only then, and now and then
  bool toldChange_ = false;  // it told of one not looked at yet
  bool readyOwed_ = false;   // frames it sent are to be painted, then it may send more
  CGEventFlags flags_ = 0;
  QPoint wheelRest_;  // a wheel's turn short of a whole notch
  int noticeMs_ = 3000;
  std::function<void()> painted_;
  bool paintedOwed_ = false;  // a paint's notice waits for the window system to have it
  /// The legend at the foot as laid out for the room it had.
  struct Legend {
    int width = 0;
    QStaticText text;
  };
  std::optional<Legend> legend_;
  int legendsDrawn_ = 0, legendsLaid_ = 0;
};

}  // namespace screen
