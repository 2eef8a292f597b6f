#pragma once
// Menus, the status bar and named images of the program's bundle. Everything here is
// main-thread only. The menu bar is the simulated Mac's: it keeps the program's status
// items as values a test (or a state dump) reads back, "clicks" a status item to open
// its menu and chooses an entry the way the user would. A fresh simulated Mac starts
// with an empty status bar and no bundle images.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppKitWindows.h"
#include "platform/Geometry.h"
#include "platform/Image.h"

// ---- Images -----------------------------------------------------------------------------

/// One representation of an image: a bitmap of a pixel size.
struct NSImageRep {
  int pixelsWide = 0;
  int pixelsHigh = 0;
  CGImageRef picture;
};

/// A picture with its representations, its size in points and how the menu bar draws it.
class NSImage {
 public:
  explicit NSImage(std::vector<NSImageRep> representations);

  /// The bundle's image of that name, a new object on every call; nothing when the
  /// bundle has none.
  static std::shared_ptr<NSImage> imageNamed(const std::string& name);

  const std::vector<NSImageRep>& representations() const { return representations_; }
  /// Starts as the first representation's pixel size (zero without one).
  CGSize size() const { return size_; }
  void setSize(CGSize size) { size_ = size; }
  /// A template image is tinted by the system to match the menu bar.
  bool isTemplate() const { return template_; }
  void setTemplate(bool isTemplate) { template_ = isTemplate; }
  const std::string& accessibilityDescription() const { return accessibilityDescription_; }
  void setAccessibilityDescription(std::string text) { accessibilityDescription_ = std::move(text); }

 private:
  std::vector<NSImageRep> representations_;
  CGSize size_;
  bool template_ = false;
  std::string accessibilityDescription_;
};

namespace platform {

/// Puts an image into the program's bundle resources (replacing one of that name); the
/// running program and tests use it to stand for the files a real bundle ships.
void addBundleImage(const std::string& name, std::vector<NSImageRep> representations);

}  // namespace platform

// ---- Menus ------------------------------------------------------------------------------

enum class NSControlStateValue { off = 0, on = 1, mixed = -1 };

class NSMenu;

/// A stretch of an entry's title drawn its own way: in italics, or in the secondary label
/// colour (an entry that stays choosable but reads as greyed).
struct NSTitleRun {
  std::string text;
  bool italic = false;
  bool secondary = false;
};

/// Told as a menu opens and closes, however it closes (a choice, Escape, a press beside it).
class NSMenuDelegate {
 public:
  virtual ~NSMenuDelegate() = default;
  virtual void menuWillOpen(NSMenu& menu) {}
  virtual void menuDidClose(NSMenu& menu) {}
};

/// A custom view hosted in a menu entry in place of its title. The user's click lands on
/// `click`, with the point in the view's own coordinates (top-left origin).
class NSMenuItemView {
 public:
  virtual ~NSMenuItemView() = default;
  /// The size the view wants; the entry takes it as its frame size.
  virtual CGSize fittingSize() const = 0;
  virtual void click(CGPoint point) = 0;
  /// The view as it stands, drawn at `scale` pixels per point for the menu's window; the
  /// default draws nothing (the entry then shows empty).
  virtual CGImageRef picture(double scale) const { return nullptr; }
};

/// One entry of a menu. The action is a selector name and, for an entry with a target,
/// the callback that stands for sending it there.
class NSMenuItem {
 public:
  NSMenuItem(std::string title, SEL action, std::string keyEquivalent);
  /// A separator line; it has no title and no action.
  static std::shared_ptr<NSMenuItem> separatorItem();

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  /// The title as the menu draws it, in runs; empty (the default): the plain title.
  const std::vector<NSTitleRun>& attributedTitle() const { return attributedTitle_; }
  void setAttributedTitle(std::vector<NSTitleRun> runs) { attributedTitle_ = std::move(runs); }
  const SEL& action() const { return action_; }
  void setAction(SEL action) { action_ = std::move(action); }
  /// What performing the action does; without one the action goes to the application.
  void setTarget(std::function<void()> perform) { perform_ = std::move(perform); }
  bool hasTarget() const { return static_cast<bool>(perform_); }
  const std::string& keyEquivalent() const { return keyEquivalent_; }
  void setKeyEquivalent(std::string key) { keyEquivalent_ = std::move(key); }
  NSEventModifierFlags keyEquivalentModifierMask() const { return keyModifiers_; }
  void setKeyEquivalentModifierMask(NSEventModifierFlags mask) { keyModifiers_ = mask; }
  NSControlStateValue state() const { return state_; }
  void setState(NSControlStateValue state) { state_ = state; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  bool isSeparatorItem() const { return separator_; }
  const std::shared_ptr<NSMenu>& submenu() const { return submenu_; }
  void setSubmenu(std::shared_ptr<NSMenu> menu) { submenu_ = std::move(menu); }
  const std::shared_ptr<NSMenuItemView>& view() const { return view_; }
  void setView(std::shared_ptr<NSMenuItemView> view) { view_ = std::move(view); }
  /// The menu holding the entry; null when it is in none.
  NSMenu* menu() const { return menu_; }

  /// Sends the action: the target's callback, else to the application (only "terminate:"
  /// is understood there). False when the entry is a separator, disabled or its action
  /// reaches nobody.
  bool perform();

 private:
  friend class NSMenu;
  std::string title_;
  std::vector<NSTitleRun> attributedTitle_;
  SEL action_;
  std::function<void()> perform_;
  std::string keyEquivalent_;
  NSEventModifierFlags keyModifiers_ = NSEventModifierFlagCommand;
  NSControlStateValue state_ = NSControlStateValue::off;
  bool enabled_ = true;
  bool separator_ = false;
  std::shared_ptr<NSMenu> submenu_;
  std::shared_ptr<NSMenuItemView> view_;
  NSMenu* menu_ = nullptr;
};

/// An ordered list of entries. While it is open on screen it is "tracking"; choosing an
/// entry closes it, and so does `cancelTracking`.
class NSMenu {
 public:
  explicit NSMenu(std::string title = "");
  ~NSMenu();
  NSMenu(const NSMenu&) = delete;
  NSMenu& operator=(const NSMenu&) = delete;

  const std::string& title() const { return title_; }
  const std::vector<std::shared_ptr<NSMenuItem>>& items() const { return items_; }
  std::int64_t numberOfItems() const { return static_cast<std::int64_t>(items_.size()); }
  /// Null outside 0..numberOfItems-1.
  std::shared_ptr<NSMenuItem> itemAtIndex(std::int64_t index) const;
  /// The first entry with that title, else null.
  std::shared_ptr<NSMenuItem> itemWithTitle(const std::string& title) const;
  /// -1 when the entry is not in this menu.
  std::int64_t indexOfItem(const NSMenuItem& item) const;

  /// Appends; an entry already in a menu is taken out of it first.
  void addItem(std::shared_ptr<NSMenuItem> item);
  /// Inserts before `index` (clamped to 0..numberOfItems).
  void insertItem(std::shared_ptr<NSMenuItem> item, std::int64_t index);
  /// Does nothing outside the range.
  void removeItemAtIndex(std::int64_t index);
  void removeItem(const NSMenuItem& item);

  NSMenuDelegate* delegate() const { return delegate_; }
  /// Not owned; the delegate must outlive the menu or be taken off first.
  void setDelegate(NSMenuDelegate* delegate) { delegate_ = delegate; }
  /// The narrowest the menu's window is drawn (a pop-up button's menu is at least as wide
  /// as the button); 0 leaves the menu's own width.
  double minimumWidth() const { return minimumWidth_; }
  void setMinimumWidth(double width) { minimumWidth_ = width; }
  /// The entry the pointer or the arrow keys light while the menu is open; null when none is.
  std::shared_ptr<NSMenuItem> highlightedItem() const;
  /// The menu's window lights the entry at `index` (nothing: none).
  void setHighlightedItemIndex(std::optional<std::int64_t> index) { highlighted_ = index; }

  /// Whether the menu is open on screen.
  bool isTracking() const { return tracking_; }
  /// Opens the menu (the user clicked its status item), without a place to show it.
  void popUp();
  /// Opens the menu with its top-left corner at `location` (global top-left points) and,
  /// where the menu bar can show windows, as a window there. Main thread.
  void popUpMenuAtLocation(CGPoint location);
  /// Opens the menu as a pop-up button's: `item` (which must be one of its entries) lit and
  /// placed with its title starting at `location` and its row's middle on it, `location`
  /// being in `view`'s coordinates (top-left origin) in one of the program's windows. The
  /// menu is moved as little as keeps it on its display. Unlike the platform's, this call
  /// returns at once: the choice arrives through the entries' targets. False when `view`
  /// is in no window of the program or `item` is not an entry (the menu then stays closed).
  /// Main thread.
  bool popUpMenuPositioningItem(const NSMenuItem& item, CGPoint location, const QWidget& view);
  /// Closes the menu (and its window) if it is open.
  void cancelTracking();
  /// The user chooses the entry at `index`: the menu closes, then the action is sent.
  /// False when there is no such entry or its action reached nobody (the menu then stays open).
  bool performActionForItemAtIndex(std::int64_t index);
  /// The user clicks at `point` inside the custom view of the entry at `index`; false
  /// when the entry has no view.
  bool clickViewOfItemAtIndex(std::int64_t index, CGPoint point);

 private:
  std::string title_;
  std::vector<std::shared_ptr<NSMenuItem>> items_;
  bool tracking_ = false;
  NSMenuDelegate* delegate_ = nullptr;
  double minimumWidth_ = 0;
  std::optional<std::int64_t> highlighted_;
  std::shared_ptr<void> window_;  // the menu's window while it is open on screen
};

// ---- The status bar ---------------------------------------------------------------------

enum class NSCellImagePosition { noImage = 0, imageOnly = 1, imageLeft = 2, imageRight = 3, imageLeading = 7 };

/// The clickable part of a status item: a title and/or an image.
class NSStatusBarButton {
 public:
  const std::string& title() const { return title_; }
  void setTitle(std::string title);
  const std::shared_ptr<NSImage>& image() const { return image_; }
  void setImage(std::shared_ptr<NSImage> image);
  NSCellImagePosition imagePosition() const { return imagePosition_; }
  void setImagePosition(NSCellImagePosition position);
  /// How the menu bar learns that the button changed and redraws it (not for the program).
  void setOnChange(std::function<void()> changed) { changed_ = std::move(changed); }

 private:
  std::string title_;
  std::shared_ptr<NSImage> image_;
  NSCellImagePosition imagePosition_ = NSCellImagePosition::noImage;
  std::function<void()> changed_;  // the menu bar redraws the item
};

inline constexpr double NSVariableStatusItemLength = -1;
inline constexpr double NSSquareStatusItemLength = -2;

class NSStatusItem {
 public:
  explicit NSStatusItem(double length) : length_(length) {}
  NSStatusItem(const NSStatusItem&) = delete;
  NSStatusItem& operator=(const NSStatusItem&) = delete;
  double length() const { return length_; }
  NSStatusBarButton* button() { return &button_; }
  const NSStatusBarButton* button() const { return &button_; }
  const std::shared_ptr<NSMenu>& menu() const { return menu_; }
  void setMenu(std::shared_ptr<NSMenu> menu) { menu_ = std::move(menu); }
  /// The user clicks the item: its menu opens (below the item's window when it has one).
  /// False when it has none.
  bool click();

 private:
  friend class NSStatusBar;
  double length_;
  NSStatusBarButton button_;
  std::shared_ptr<NSMenu> menu_;
  std::shared_ptr<void> shown_;  // its windows in the menu bars
};

class NSStatusBar {
 public:
  /// The menu bar's status area of the current simulated Mac.
  static NSStatusBar& systemStatusBar();

  /// A new item at the end of the status area; the bar keeps it until it is removed.
  std::shared_ptr<NSStatusItem> statusItemWithLength(double length);
  void removeStatusItem(const std::shared_ptr<NSStatusItem>& item);
  /// The program's items, oldest first.
  const std::vector<std::shared_ptr<NSStatusItem>>& items() const { return items_; }

 private:
  std::vector<std::shared_ptr<NSStatusItem>> items_;
};
