#pragma once
// Status items and menus as the menu bar shows them. A status item is a window in every
// display's menu bar, left of the clock and of the items already there, drawn from its
// button (a template image tinted for the bar, then its title) and highlighted while its
// menu is open; a press on it opens the menu. An open menu is a window under its item,
// drawn from the menu's entries, which the pointer (hover, click) and the keyboard
// (arrows, Return, Escape) use; a press anywhere else closes it. A pop-up button's menu is
// such a window placed with the chosen entry over the button. Tool tips are small windows
// beside the pointer. Main thread. Without a widget application or a window server nothing
// is shown and menus stay plain values.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Geometry.h"

class NSEvent;
class NSMenu;
class NSStatusItem;
class QWidget;

namespace platform {

/// Shows `item` in the menu bars for as long as the answer is kept; null when nothing
/// can be shown. The windows follow changes of the item's button.
std::shared_ptr<void> showStatusItem(const std::shared_ptr<NSStatusItem>& item);
/// Where a status item's menu opens (global top-left points): under the item's window on
/// the first display. Nothing when `shown` is not a status item on screen.
std::optional<CGPoint> statusItemMenuLocation(const std::shared_ptr<void>& shown);

/// Shows `menu` as a window with its top left at `location`, kept within the display;
/// null when nothing can be shown. The menu must outlive the answer. With `positioned`,
/// the window is placed instead so that entry's title starts at `location` and its row's
/// middle lies on it (a pop-up button's menu over its button), moved as little as keeps
/// it on its display.
std::shared_ptr<void> showMenu(NSMenu& menu, CGPoint location, std::optional<std::int64_t> positioned = std::nullopt);
/// Takes a menu's window off the screen at once and lets it go once the event that closed
/// it has been handled.
void closeMenu(std::shared_ptr<void> window);

/// Hands a drag or release of the press that opened the open menu to that menu, wherever
/// the window server routed it: a drag lights the entry under the pointer, and a release
/// on an entry after such a drag chooses it. False when the event is not the menu's.
bool routeToOpenMenu(const NSEvent& event);

/// Hands a key down to the open menu while the program's own window stays key under it, as
/// a menu tracks the keyboard; false when no menu is open or the menu's panel is key itself
/// (its keys then come the usual way).
bool routeKeyToOpenMenu(const NSEvent& event);

/// Where `point` of `view` (its own coordinates, top-left origin) lies on the displays
/// (global top-left points); nothing when the view is in no window of the program.
std::optional<CGPoint> pointInScreens(const QWidget& view, CGPoint point);

/// Shows a tool tip of `text` near the pointer at `location` (global top-left points), in
/// place of the one shown; an empty text, or `hideToolTip`, takes it away.
void showToolTip(const std::string& text, CGPoint location);
void hideToolTip();
/// The text of the tool tip shown; empty when none is.
std::string shownToolTip();

}  // namespace platform
