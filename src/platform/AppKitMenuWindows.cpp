#include "platform/AppKitMenuWindows.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "platform/AppKit.h"
#include "platform/AppKitAppearance.h"
#include "platform/AppKitControls.h"
#include "platform/AppKitMenus.h"
#include "platform/AppKitPointer.h"
#include "platform/CGWindow.h"
#include "platform/Clock.h"
#include "platform/WindowFrame.h"
#include "platform/WindowServerPort.h"

namespace platform {

namespace {

bool canShow() { return qobject_cast<QApplication*>(QCoreApplication::instance()) && hasWindowServer(); }

double primaryTop() {
  const auto screens = NSScreen::screens();
  return screens.empty() ? 0 : screens.front().frame().maxY();
}

QFont menuFont() {
  QFont font;
  font.setPixelSize(13);
  return font;
}

QColor labelColor(bool dark, double opacity = 1) {
  return dark ? QColor::fromRgbF(1, 1, 1, static_cast<float>(0.9 * opacity))
              : QColor::fromRgbF(0, 0, 0, static_cast<float>(0.85 * opacity));
}

// The system's secondary label colour: what a menu greys an entry's text with while the
// entry stays choosable.
QColor secondaryLabelColor(bool dark) {
  return dark ? QColor::fromRgbF(1, 1, 1, 0.55f) : QColor::fromRgbF(0, 0, 0, 0.5f);
}

constexpr double kEdge = 4;  // a menu keeps this far from its display's edges

/// A borderless panel that takes the keyboard without activating the program, as menus do.
class MenuPanel : public NSPanel {
 public:
  MenuPanel(CGRect frame, NSWindowLevel level)
      : NSPanel(frame, NSWindowStyleMaskNonactivatingPanel, NSBackingStoreType::buffered, false) {
    setLevel(level);
    setOpaque(false);
    setCollectionBehavior(NSWindowCollectionBehaviorCanJoinAllSpaces | NSWindowCollectionBehaviorStationary);
  }
  bool canBecomeKeyWindow() const override { return true; }
};

/// A menu panel and the view it shows; the panel lets go of the view before either goes.
template <class View>
struct PanelWithView {
  std::unique_ptr<MenuPanel> window;
  std::unique_ptr<View> view;

  PanelWithView() = default;
  PanelWithView(PanelWithView&&) = default;
  PanelWithView& operator=(PanelWithView&&) = default;
  ~PanelWithView() {
    if (window) window->setContentView(nullptr);
  }
};

// ---- Status items --------------------------------------------------------------------

/// The button's template image tinted for the bar, at its size in points.
QImage tinted(const NSImage& image, const QColor& color) {
  const NSImageRep* best = nullptr;
  for (const NSImageRep& rep : image.representations())
    if (rep.picture && (!best || rep.pixelsWide > best->pixelsWide)) best = &rep;
  if (!best) return QImage();
  QImage picture = best->picture->qimage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (!image.isTemplate()) return picture;
  QPainter painter(&picture);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(picture.rect(), color);
  return picture;
}

class StatusButtonView : public QWidget {
 public:
  StatusButtonView(std::weak_ptr<NSStatusItem> item, std::function<void()> press)
      : item_(std::move(item)), press_(std::move(press)) {}

  /// The width the button needs in the bar.
  static double widthFor(const NSStatusBarButton& button) {
    double width = 2 * kPad;
    if (const auto& image = button.image()) width += image->size().width;
    if (!button.title().empty()) {
      if (button.image()) width += kGap;
      width += QFontMetricsF(menuFont()).horizontalAdvance(QString::fromStdString(button.title()));
    }
    return std::ceil(std::max(width, 22.0));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    const auto item = item_.lock();
    if (!item) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = NSAppearance::current().isDark();
    if (item->menu() && item->menu()->isTracking()) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(dark ? QColor(255, 255, 255, 56) : QColor(0, 0, 0, 38));
      painter.drawRoundedRect(QRectF(rect()).adjusted(0, 3, 0, -3), 5, 5);
    }
    const NSStatusBarButton& button = *item->button();
    double x = kPad;
    if (const auto& image = button.image()) {
      const CGSize size = image->size();
      const QRectF box(x, (height() - size.height) / 2, size.width, size.height);
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(box, tinted(*image, labelColor(dark)));
      x += size.width + kGap;
    }
    if (!button.title().empty()) {
      painter.setFont(menuFont());
      painter.setPen(labelColor(dark));
      painter.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter,
                       QString::fromStdString(button.title()));
    }
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && press_) press_();
  }

 private:
  static constexpr double kPad = 8, kGap = 4;
  std::weak_ptr<NSStatusItem> item_;
  std::function<void()> press_;
};

/// One status item's windows, one in each display's menu bar.
struct StatusItemWindows {
  using Place = PanelWithView<StatusButtonView>;
  std::weak_ptr<NSStatusItem> item;
  std::vector<Place> places;

  /// The frames (global, top-left) the item takes: left of the clock and of every other
  /// program's status item in each display's menu bar.
  void place() {
    const auto live = item.lock();
    if (!live) return;
    const double top = primaryTop();
    const double width = StatusButtonView::widthFor(*live->button());
    const auto screens = NSScreen::screens();
    std::vector<WindowEntry> others;
    const std::int32_t own = windowServer().ownProcessIdentifier();
    for (const WindowEntry& e : windowServer().windowList())
      if (e.layer == NSStatusWindowLevel && e.ownerPID != own && e.onScreen) others.push_back(e);
    while (places.size() < screens.size()) {
      Place p;
      p.window = std::make_unique<MenuPanel>(CGRect(0, 0, width, kMenuBarMinHeight), NSStatusWindowLevel);
      p.window->setHasShadow(false);
      const std::size_t index = places.size();
      std::weak_ptr<NSStatusItem> weak = item;
      p.view = std::make_unique<StatusButtonView>(item, [weak, index, this] {
        const auto pressed = weak.lock();
        if (!pressed || !pressed->menu() || index >= places.size()) return;
        pressed->menu()->popUpMenuAtLocation(menuLocation(index));
      });
      p.window->setContentView(p.view.get());
      places.push_back(std::move(p));
    }
    for (std::size_t i = 0; i < places.size(); ++i) {
      Place& p = places[i];
      if (i >= screens.size()) {
        p.window->orderOut(nullptr);
        continue;
      }
      const CGRect display = flipRect(screens[i].frame(), top);  // top-left
      const double bar = menuBarHeight(screens[i].frame(), screens[i].visibleFrame());
      double right = display.maxX() - kMenuBarClockWidth;
      for (const WindowEntry& e : others)
        if (e.bounds.minY() < display.minY() + bar && e.bounds.maxY() > display.minY() &&
            e.bounds.minX() >= display.minX() && e.bounds.minX() < right)
          right = e.bounds.minX();
      const CGRect frame(right - kStatusItemSpacing - width, display.minY(), width, bar);
      p.view->resize(static_cast<int>(width), static_cast<int>(bar));
      p.window->setFrame(flipRect(frame, top), false);
      p.window->orderFrontRegardless();
      p.view->update();
    }
  }

  /// Under the item's window on display `index`: its left edge, the bar's bottom.
  CGPoint menuLocation(std::size_t index) const {
    const CGRect frame = flipRect(places[index].window->frame(), primaryTop());
    return {frame.minX(), frame.maxY() + 1};
  }

  void redraw() {
    for (Place& p : places) p.view->update();
  }
};

// ---- Menus ---------------------------------------------------------------------------

/// One entry's row in the menu window.
struct Row {
  std::int64_t index = 0;
  QRectF rect;  // in the view, points
  bool choosable = false;
};

class MenuView : public QWidget, public NSResponder {
 public:
  explicit MenuView(NSMenu& menu) : menu_(menu) { setMouseTracking(true); }

  static constexpr double kPadY = 5, kItemHeight = 22, kSeparatorHeight = 11, kInsetX = 5, kTextX = 22;

  /// The size the menu's entries take.
  QSizeF fittingSize() const {
    double width = menu_.minimumWidth() > 0 ? menu_.minimumWidth() : 180, height = 2 * kPadY;
    for (const auto& item : menu_.items()) {
      if (item->view()) {
        const CGSize size = item->view()->fittingSize();
        width = std::max(width, size.width);
        height += size.height;
      } else if (item->isSeparatorItem()) {
        height += kSeparatorHeight;
      } else {
        width = std::max(width, kTextX + titleWidth(*item) + keyWidth(*item) + kTextX);
        height += kItemHeight;
      }
    }
    return {std::ceil(width), std::ceil(height)};
  }

  /// Where the entry at `index` starts, from the view's top.
  double rowTop(std::int64_t index) const {
    for (const Row& row : rows())
      if (row.index == index) return row.rect.top();
    return kPadY;
  }

  bool acceptsFirstResponder() const override { return true; }
  void keyDown(const NSEvent& event) override {
    switch (event.keyCode()) {
      case 125:
        return step(1);  // ↓
      case 126:
        return step(-1);  // ↑
      case 36:  // Return
      case 76:  // Enter
      case 49:  // Space
        if (const auto lit = highlighted()) choose(*lit);
        return;
      case 53:
        return menu_.cancelTracking();  // Escape
      default:
        return;
    }
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const bool dark = NSAppearance::current().isDark();
    const QRectF plate = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(dark ? QColor(255, 255, 255, 46) : QColor(0, 0, 0, 46), 1));
    painter.setBrush(dark ? QColor(36, 36, 38, 214) : QColor(244, 244, 246, 224));
    painter.drawRoundedRect(plate, 7, 7);
    const QFontMetricsF metrics(menuFont());
    painter.setFont(menuFont());
    const double scale = painter.deviceTransform().m11();
    for (const Row& row : rows()) {
      const auto& item = menu_.items()[static_cast<std::size_t>(row.index)];
      if (item->view()) {
        if (const CGImageRef picture = item->view()->picture(std::max(1.0, scale)))
          painter.drawImage(row.rect, picture->qimage());
        continue;
      }
      if (item->isSeparatorItem()) {
        painter.fillRect(QRectF(row.rect.left() + 10, row.rect.center().y() - 0.5, row.rect.width() - 20, 1),
                         dark ? QColor(255, 255, 255, 38) : QColor(0, 0, 0, 30));
        continue;
      }
      const bool lit = highlighted() == row.index && row.choosable;
      if (lit) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(controlAccentColor());
        painter.drawRoundedRect(row.rect.adjusted(kInsetX, 0, -kInsetX, 0), 4, 4);
      }
      const QColor ink = lit ? QColor(Qt::white) : labelColor(dark, item->isEnabled() ? 1 : 0.3);
      painter.setPen(ink);
      if (item->state() == NSControlStateValue::on)
        painter.drawText(QRectF(row.rect.left() + 8, row.rect.top(), 14, row.rect.height()), Qt::AlignCenter,
                         QString::fromUtf8("\u2713"));
      double x = row.rect.left() + kTextX;
      for (const NSTitleRun& run : runs(*item)) {
        const QFont font = runFont(run);
        painter.setFont(font);
        painter.setPen(lit || !run.secondary ? ink : secondaryLabelColor(dark));
        const QString text = QString::fromStdString(run.text);
        painter.drawText(QRectF(x, row.rect.top(), row.rect.right() - x, row.rect.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, text);
        x += QFontMetricsF(font).horizontalAdvance(text);
      }
      painter.setFont(menuFont());
      if (const QString key = keyText(*item); !key.isEmpty()) {
        painter.setPen(lit ? ink : labelColor(dark, 0.5));
        painter.drawText(row.rect.adjusted(kTextX, 0, -12, 0), Qt::AlignRight | Qt::AlignVCenter, key);
      }
    }
  }

  void mouseMoveEvent(QMouseEvent* event) override { hover(event->position()); }
  void mouseReleaseEvent(QMouseEvent* event) override { releaseAt(event->position()); }

 public:
  void hover(QPointF at) {
    std::optional<std::int64_t> under;
    for (const Row& row : rows())
      if (row.choosable && row.rect.contains(at)) under = row.index;
    light(under);
  }
  void cancel() { menu_.cancelTracking(); }
  void releaseAt(QPointF at) {
    for (const Row& row : rows()) {
      if (!row.rect.contains(at)) continue;
      const auto& item = menu_.items()[static_cast<std::size_t>(row.index)];
      if (item->view()) {
        const QPointF in = at - row.rect.topLeft();
        menu_.clickViewOfItemAtIndex(row.index, CGPoint{in.x(), in.y()});
        update();
      } else if (row.choosable) {
        choose(row.index);
      }
      return;
    }
  }

 private:
  static QString keyText(const NSMenuItem& item) {
    if (item.keyEquivalent().empty()) return {};
    QString text;
    const NSEventModifierFlags mods = item.keyEquivalentModifierMask();
    if (mods & NSEventModifierFlagControl) text += QString::fromUtf8("\u2303");
    if (mods & NSEventModifierFlagOption) text += QString::fromUtf8("\u2325");
    if (mods & NSEventModifierFlagShift) text += QString::fromUtf8("\u21E7");
    if (mods & NSEventModifierFlagCommand) text += QString::fromUtf8("\u2318");
    return text + QString::fromStdString(item.keyEquivalent()).toUpper();
  }
  static std::vector<NSTitleRun> runs(const NSMenuItem& item) {
    if (!item.attributedTitle().empty()) return item.attributedTitle();
    return {NSTitleRun{item.title()}};
  }
  static QFont runFont(const NSTitleRun& run) {
    QFont font = menuFont();
    font.setItalic(run.italic);
    return font;
  }
  static double titleWidth(const NSMenuItem& item) {
    double width = 0;
    for (const NSTitleRun& run : runs(item))
      width += QFontMetricsF(runFont(run)).horizontalAdvance(QString::fromStdString(run.text));
    return width;
  }
  static double keyWidth(const NSMenuItem& item) {
    const QString key = keyText(item);
    return key.isEmpty() ? 0 : QFontMetricsF(menuFont()).horizontalAdvance(key) + 16;
  }

  std::vector<Row> rows() const {
    std::vector<Row> rows;
    double y = kPadY;
    for (std::int64_t i = 0; i < menu_.numberOfItems(); ++i) {
      const auto& item = menu_.items()[static_cast<std::size_t>(i)];
      const double h = item->view()              ? item->view()->fittingSize().height
                       : item->isSeparatorItem() ? kSeparatorHeight
                                                 : kItemHeight;
      rows.push_back({i, QRectF(0, y, width(), h), !item->view() && !item->isSeparatorItem() && item->isEnabled()});
      y += h;
    }
    return rows;
  }

  // The menu keeps which entry is lit, so the program and its tests can read it.
  std::optional<std::int64_t> highlighted() const {
    const auto item = menu_.highlightedItem();
    return item ? std::optional(menu_.indexOfItem(*item)) : std::nullopt;
  }
  void light(std::optional<std::int64_t> index) {
    if (index == highlighted()) return;
    menu_.setHighlightedItemIndex(index);
    update();
  }

  void step(int direction) {
    const std::vector<Row> all = rows();
    std::vector<std::int64_t> choosable;
    for (const Row& r : all)
      if (r.choosable) choosable.push_back(r.index);
    if (choosable.empty()) return;
    const auto lit = highlighted();
    auto at = lit ? std::find(choosable.begin(), choosable.end(), *lit) : choosable.end();
    if (at == choosable.end()) return light(direction > 0 ? choosable.front() : choosable.back());
    // The ends stop the highlight, as a menu's do.
    const auto i = std::clamp<std::ptrdiff_t>((at - choosable.begin()) + direction, 0,
                                              static_cast<std::ptrdiff_t>(choosable.size()) - 1);
    light(choosable[static_cast<std::size_t>(i)]);
  }

  void choose(std::int64_t index) {
    // Choosing closes the menu, and this view with it, once the event is handled.
    menu_.performActionForItemAtIndex(index);
  }

  NSMenu& menu_;
};

/// A press beside the open menu closes it, as the menu's tracking does.
class Dismisser : public QWidget {
 public:
  explicit Dismisser(NSMenu& menu) : menu_(menu) {}

 protected:
  void mousePressEvent(QMouseEvent*) override { menu_.cancelTracking(); }

 private:
  NSMenu& menu_;
};

struct MenuWindow {
  using Cover = PanelWithView<Dismisser>;
  PanelWithView<MenuView> menu;
  std::vector<Cover> covers;  // one over each display, under the menu
  NSWindow* keyBefore = nullptr;
  // Opened by a press still held: its drags light the entries, and a release on one
  // after a drag chooses it, as a menu's tracking does; a plain click leaves it open.
  bool openedByHeldPress = false;
  bool draggedOver = false;

  void orderOut() {
    const bool wasKey = menu.window->isKeyWindow();
    menu.window->orderOut(nullptr);
    for (Cover& c : covers) c.window->orderOut(nullptr);
    // The keyboard goes back where it was, unless the choice gave it to another window.
    const auto live = NSApp().windows();
    if (wasKey && keyBefore && std::find(live.begin(), live.end(), keyBefore) != live.end() && keyBefore->isVisible())
      keyBefore->makeKeyWindow();
  }
};

std::weak_ptr<MenuWindow>& openMenu() {
  static std::weak_ptr<MenuWindow> open;
  return open;
}

std::vector<std::weak_ptr<StatusItemWindows>>& statusItems() {
  static std::vector<std::weak_ptr<StatusItemWindows>> all;
  return all;
}

// Every status item shows whether its menu is open.
void redrawStatusItems() {
  auto& all = statusItems();
  std::erase_if(all, [](const auto& w) { return w.expired(); });
  for (const auto& w : all)
    if (auto shown = w.lock()) shown->redraw();
}

// ---- Tool tips -------------------------------------------------------------------------

class ToolTipView : public QWidget {
 public:
  static constexpr double kPadX = 6, kHeight = 19;

  static QFont font() {
    QFont font;
    font.setPixelSize(11);
    return font;
  }
  void setText(const std::string& text) {
    text_ = QString::fromStdString(text);
    update();
  }
  const QString& text() const { return text_; }
  QSizeF fittingSize() const {
    return {std::ceil(QFontMetricsF(font()).horizontalAdvance(text_) + 2 * kPadX), kHeight};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = NSAppearance::current().isDark();
    painter.setPen(QPen(dark ? QColor(255, 255, 255, 46) : QColor(0, 0, 0, 40), 1));
    painter.setBrush(dark ? QColor(42, 42, 44, 240) : QColor(246, 246, 246, 245));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    painter.setFont(font());
    painter.setPen(labelColor(dark));
    painter.drawText(QRectF(rect()), Qt::AlignCenter, text_);
  }

 private:
  QString text_;
};

// The one tool tip there is at a time, made when the first one shows and kept for the
// process; null before.
PanelWithView<ToolTipView>*& toolTip() {
  static PanelWithView<ToolTipView>* tip = nullptr;
  return tip;
}

}  // namespace

std::optional<CGPoint> pointInScreens(const QWidget& view, CGPoint point) {
  for (NSWindow* window : NSApp().windows()) {
    const QWidget* content = window->contentView();
    if (!content || !(content == &view || content->isAncestorOf(&view)) || !window->isVisible()) continue;
    const CGRect area = window->contentRectForFrameRect(window->frame());
    const QPoint offset = view.mapTo(content, QPoint());
    return CGPoint{area.minX() + offset.x() + point.x, primaryTop() - area.maxY() + offset.y() + point.y};
  }
  return std::nullopt;
}

void showToolTip(const std::string& text, CGPoint location) {
  if (text.empty()) return hideToolTip();
  if (!canShow()) return;
  if (!toolTip()) {
    auto* made = new PanelWithView<ToolTipView>;
    made->view = std::make_unique<ToolTipView>();
    made->window = std::make_unique<MenuPanel>(CGRect(0, 0, 1, 1), NSPopUpMenuWindowLevel);
    made->window->setIgnoresMouseEvents(true);
    made->window->setContentView(made->view.get());
    toolTip() = made;
  }
  auto& tip = *toolTip();
  tip.view->setText(text);
  const QSizeF size = tip.view->fittingSize();
  tip.view->resize(size.toSize());
  // Under the pointer's arrow, kept on the display the pointer is on.
  CGRect frame(location.x, location.y + 20, size.width(), size.height());
  for (const NSScreen& screen : NSScreen::screens()) {
    const CGRect display = flipRect(screen.frame(), primaryTop());
    if (!display.contains(location)) continue;
    frame.origin.x = std::clamp(frame.origin.x, display.minX() + kEdge,
                                std::max(display.minX(), display.maxX() - frame.width() - kEdge));
    if (frame.maxY() > display.maxY() - kEdge) frame.origin.y = location.y - 8 - frame.height();
  }
  tip.window->setFrame(flipRect(frame, primaryTop()), false);
  tip.window->orderFrontRegardless();
}

void hideToolTip() {
  auto* tip = toolTip();
  if (!tip || tip->view->text().isEmpty() || !canShow()) return;
  tip->view->setText({});
  tip->window->orderOut(nullptr);
}

std::string shownToolTip() { return toolTip() ? toolTip()->view->text().toStdString() : std::string(); }

std::shared_ptr<void> showStatusItem(const std::shared_ptr<NSStatusItem>& item) {
  if (!item || !canShow()) return nullptr;
  auto shown = std::make_shared<StatusItemWindows>();
  shown->item = item;
  std::weak_ptr<StatusItemWindows> weak = shown;
  item->button()->setOnChange([weak] {
    if (auto live = weak.lock()) live->place();
  });
  shown->place();
  statusItems().push_back(shown);
  return shown;
}

std::optional<CGPoint> statusItemMenuLocation(const std::shared_ptr<void>& shown) {
  auto* windows = static_cast<StatusItemWindows*>(shown.get());
  if (!windows || windows->places.empty() || !windows->places.front().window->isVisible()) return std::nullopt;
  return windows->menuLocation(0);
}

std::shared_ptr<void> showMenu(NSMenu& menu, CGPoint location, std::optional<std::int64_t> positioned) {
  if (!canShow()) return nullptr;
  auto shown = std::make_shared<MenuWindow>();
  const double top = primaryTop();
  for (const NSScreen& screen : NSScreen::screens()) {
    MenuWindow::Cover c;
    c.window = std::make_unique<MenuPanel>(screen.frame(), NSPopUpMenuWindowLevel);
    c.window->setHasShadow(false);
    c.view = std::make_unique<Dismisser>(menu);
    const CGRect f = screen.frame();
    c.view->resize(static_cast<int>(f.width()), static_cast<int>(f.height()));
    c.window->setContentView(c.view.get());
    c.window->orderFrontRegardless();
    shown->covers.push_back(std::move(c));
  }
  shown->menu.view = std::make_unique<MenuView>(menu);
  const QSizeF size = shown->menu.view->fittingSize();
  shown->menu.view->resize(size.toSize());
  CGRect frame(location.x, location.y, size.width(), size.height());
  if (positioned) {
    // The entry's title over the button's, its row's middle on the button's.
    frame.origin.x -= MenuView::kTextX;
    frame.origin.y -= shown->menu.view->rowTop(*positioned) + MenuView::kItemHeight / 2;
  }
  // Kept on the display it opens on (below its menu bar when it opens over a window).
  for (const NSScreen& screen : NSScreen::screens()) {
    const CGRect display = flipRect(screen.frame(), top);
    if (!display.contains(location)) continue;
    frame.origin.x = std::clamp(frame.origin.x, display.minX() + kEdge,
                                std::max(display.minX(), display.maxX() - frame.width() - kEdge));
    if (!positioned) continue;
    const double below = display.minY() + menuBarHeight(screen.frame(), screen.visibleFrame());
    frame.origin.y = std::clamp(frame.origin.y, below + kEdge, std::max(below, display.maxY() - frame.height() - kEdge));
  }
  shown->menu.window = std::make_unique<MenuPanel>(flipRect(frame, top), NSPopUpMenuWindowLevel);
  shown->menu.window->setContentView(shown->menu.view.get());
  shown->keyBefore = NSApp().keyWindow();
  shown->menu.window->orderFrontRegardless();
  // A menu tracks the keys without taking the key window from the program in front, whose
  // window stays key (routeKeyToOpenMenu); only with no key window in front does the menu's
  // panel take the keyboard itself, as a non-activating panel.
  if (!shown->keyBefore || !NSApp().isActive()) shown->menu.window->makeKeyWindow();
  shown->menu.window->makeFirstResponder(shown->menu.view.get());
  shown->openedByHeldPress = pointerPressHeld();
  openMenu() = shown;
  redrawStatusItems();
  return shown;
}

bool routeToOpenMenu(const NSEvent& event) {
  const auto open = openMenu().lock();
  const NSEventType type = event.type();
  if (!open || !open->openedByHeldPress || !open->menu.window->isVisible()) return false;
  if (type != NSEventType::leftMouseDragged && type != NSEventType::leftMouseUp) return false;
  const CGPoint local = pointInWindow(open->menu.window->frame(), event.cgLocation());
  const QPointF at(local.x, local.y);
  const bool inside = QRectF(open->menu.view->rect()).contains(at);
  if (type == NSEventType::leftMouseDragged) {
    open->draggedOver = open->draggedOver || inside;
    open->menu.view->hover(at);
    return true;
  }
  open->openedByHeldPress = false;
  if (!open->draggedOver) return false;
  // The press that opened the menu ends here, so nothing else hears its release; let go
  // beside the menu after a drag, it closes without a choice.
  endPointerPress();
  if (inside) {
    open->menu.view->releaseAt(at);
  } else {
    open->menu.view->cancel();
  }
  return true;
}

bool routeKeyToOpenMenu(const NSEvent& event) {
  const auto open = openMenu().lock();
  if (!open || !open->menu.window->isVisible() || open->menu.window->isKeyWindow()) return false;
  open->menu.view->keyDown(event);
  return true;
}

void closeMenu(std::shared_ptr<void> window) {
  auto* shown = static_cast<MenuWindow*>(window.get());
  if (shown) shown->orderOut();
  redrawStatusItems();
  // The event that closed the menu may still be in one of its views.
  if (window) mainQueue().async([window] {});
}

}  // namespace platform
