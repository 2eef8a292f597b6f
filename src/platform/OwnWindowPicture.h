#pragma once
// The picture of one of the program's own windows as the window server shows it: its
// content view drawn at the size the server asks for. Widgets draw on the main thread
// only, so a request from another thread is handed to the main queue and waited for; when
// the main thread does not get to it in time, the last picture drawn there stands in.

#include <memory>
#include <mutex>

#include "platform/Image.h"
#include "platform/WindowServerPort.h"

class QWidget;

namespace platform {

class OwnWindowPicture : public std::enable_shared_from_this<OwnWindowPicture> {
 public:
  /// How long a request from another thread waits for the main thread, in seconds.
  static constexpr double kMainThreadWait = 1.0;

  OwnWindowPicture();
  ~OwnWindowPicture();
  OwnWindowPicture(const OwnWindowPicture&) = delete;
  OwnWindowPicture& operator=(const OwnWindowPicture&) = delete;

  /// The view to draw (not owned; it may be destroyed at any time) or null. Main thread.
  void setContent(QWidget* view);
  /// Whether the window fills its background; a window that does not leaves the view's
  /// clear parts clear. Main thread.
  void setOpaque(bool opaque);

  /// The content at `width` × `height` pixels; null without a view, for an empty size or
  /// before any drawing when the main thread does not answer. Any thread.
  CGImageRef picture(int width, int height);
  /// What the window server calls; it holds this picture weakly, so a request arriving
  /// after the window is gone answers null.
  WindowServerPort::OwnWindowRenderer renderer();

 private:
  CGImageRef drawNow(int width, int height);  // main thread
  CGImageRef lastScaled(int width, int height);

  struct Main;
  std::unique_ptr<Main> main_;  // touched on the main thread only
  std::mutex mutex_;
  CGImageRef last_;  // the newest picture drawn, behind mutex_
};

}  // namespace platform
