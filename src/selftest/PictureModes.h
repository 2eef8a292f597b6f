#pragma once
// The modes that write pictures of the program's own windows or of the screens:
// "--screenshot", "--guide-shot", "--permissions-shot" and "--prefs-shot". Each shows
// what it pictures in this process, lets the run loop turn for a while, and writes one
// PNG. A picture that cannot be taken or written leaves no file, is reported on standard
// error and makes the exit status 1. Main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "selftest/Dispatch.h"

class QAbstractScrollArea;
class QWidget;

namespace trelliq {

class PictureModes final {
 public:
  PictureModes() = delete;

  /// This file's rows of the command-line table, in the table's order.
  static std::vector<SelfTestMode> modes();

  /// The wait after showing a window when no delay (or one that is not a number) is given.
  static constexpr double kDefaultDelay = 1.5;
  /// The longest wait a delay argument gets, so that a huge number cannot stall the mode.
  static constexpr double kLongestDelay = 600;

  /// The delay argument at `index` of `args`, in seconds: the default when it is absent or
  /// not a number, at least 0 and at most kLongestDelay.
  static double delay(const std::vector<std::string>& args, std::size_t index);

  /// "--screenshot": the window's picture when `window` names one that can be captured,
  /// else a screenshot of every display (the one under the pointer at `out`).
  static int screenshot(const std::string& out, const std::optional<std::string>& window);
  /// "--guide-shot": the "Keyboard Shortcuts" window on `topic` (else its first topic).
  static int guideShot(const std::string& out, double delay, const std::optional<std::string>& topic);
  /// "--permissions-shot": the Permissions window.
  static int permissionsShot(const std::string& out, double delay);
  /// Where the Preferences form's scrolling areas stand for the picture.
  enum class FormEnd { top, bottom };
  /// "--prefs-shot": the Preferences window after registering the defaults; at `bottom`
  /// every scrolling area of the first window is scrolled to its end first.
  static int prefsShot(const std::string& out, double delay, FormEnd end);

  /// Writes the full-resolution picture of a window (`what`, for messages) as PNG; the exit
  /// status: 1, after saying why, when it cannot be captured, encoded or written.
  static int writeWindow(std::uint32_t window, const std::string& out, const std::string& what);
  /// The first of the program's windows titled `title`, as its number; nothing without one
  /// (or when it has no number yet).
  static std::optional<std::uint32_t> windowTitled(const std::string& title);
  /// The scrolling areas of `view`: the view itself when it is one (its children are not
  /// searched), else those among its children, depth first in child order.
  static std::vector<QAbstractScrollArea*> scrollViews(QWidget* view);
};

}  // namespace trelliq
