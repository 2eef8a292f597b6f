#include "guide/MiniSwitcher.h"

#include <QLinearGradient>
#include <cmath>
#include <tuple>

#include "guide/model/SampleDesktops.h"
#include "ui/DemoIcons.h"

namespace trelliq {
namespace {

constexpr double kPadding = 6;
constexpr double kSpacing = 3;
constexpr double kIconItem = 26 + 2 * 4;                // icon and its padding
constexpr double kIconItemHeight = 26 + 3 + 5 + 2 * 4;  // icon, gap, dot row, padding
constexpr double kDivider = 1 + 2 * 3;
constexpr double kTrayItem = 15 + 2 * 3;
constexpr double kDesktopW = 54;
constexpr double kDesktopH = 34;
constexpr double kDesktopItemW = kDesktopW + 2 * 4;
constexpr double kDesktopItemH = 39 + 2 * 4;
constexpr double kOpenScale = 1.3;
constexpr double kClosedScale = 1.2;

double rowWidth(const Demo& demo) { return demo.tiles ? 2 * kDesktopItemW + kDivider : 4 * kIconItem + kDivider; }
double rowHeight(const Demo& demo) { return demo.tiles ? kDesktopItemH : kIconItemHeight; }
int trayCount(const Demo& demo) { return std::clamp(demo.bottomApps, 0, 3); }

void divider(QPainter& p, double x, double rowH) {
  ui::fillRounded(p, QRectF(x + 3, (rowH - 30) / 2, 1, 30), 0, ui::primary(0.2));
}

double mix(double a, double b, double t) { return a + (b - a) * t; }

QColor mix(const QColor& a, const QColor& b, double t) {
  return QColor::fromRgbF(
      static_cast<float>(mix(a.redF(), b.redF(), t)), static_cast<float>(mix(a.greenF(), b.greenF(), t)),
      static_cast<float>(mix(a.blueF(), b.blueF(), t)), static_cast<float>(mix(a.alphaF(), b.alphaF(), t)));
}

// How selected each part of the miniature is, 0 to 1, on the way from one frame to the
// next: a highlight leaving one place fades as it grows in the other.
struct Look {
  const Demo::Step& from;
  const Demo::Step& to;
  double progress;

  double blend(bool before, bool after) const { return mix(before ? 1 : 0, after ? 1 : 0, progress); }
  static bool upper(const Demo::Step& s, int i) { return !s.bottom && s.app == i; }
  static bool tray(const Demo::Step& s, int i) { return s.bottom && s.app == i; }
  static bool window(const Demo::Step& s, int app, int w) { return upper(s, app) && s.window == w; }

  double upper(int i) const { return blend(upper(from, i), upper(to, i)); }
  double tray(int i) const { return blend(tray(from, i), tray(to, i)); }
  double window(int app, int w) const { return blend(window(from, app, w), window(to, app, w)); }
};

void paintTray(QPainter& p, const Demo& demo, const Look& look, QPointF origin) {
  const auto& icons = DemoIcons::bottom();
  for (int i = 0; i < trayCount(demo); ++i) {
    const QRectF item(origin.x() + i * kTrayItem, origin.y(), kTrayItem, kTrayItem);
    const double selected = look.tray(i);
    if (selected > 0) ui::fillRounded(p, item, 5, ui::primary(0.2 * selected), ui::fadingAt(selected));
    ui::drawImage(p, item.adjusted(3, 3, -3, -3), icons[static_cast<std::size_t>(i)], mix(0.55, 1, selected));
  }
}

void paintIcons(QPainter& p, const Demo& demo, const Look& look) {
  const auto& icons = DemoIcons::top();
  double x = 0;
  for (int i = 0; i < 4; ++i) {
    if (i == 2) {
      divider(p, x, kIconItemHeight);
      x += kDivider;
    }
    const QRectF item(x, 0, kIconItem, kIconItemHeight);
    const double selected = look.upper(i);
    if (selected > 0) ui::fillRounded(p, item, 7, ui::primary(0.2 * selected), ui::fadingAt(selected));
    ui::drawImage(p, QRectF(x + 4, 4, 26, 26), icons[static_cast<std::size_t>(i)]);
    if (i == 1 && demo.windows >= 2) {
      // The dots of the app's windows, the picked one large and opaque.
      std::vector<double> picked;
      double total = 2.0 * (demo.windows - 1);
      for (int j = 0; j < demo.windows; ++j) {
        picked.push_back(look.window(1, j));
        total += mix(3, 5, picked.back());
      }
      double dx = item.center().x() - total / 2;
      const double cy = 4 + 26 + 3 + 2.5;
      for (int j = 0; j < demo.windows; ++j) {
        const double w = picked[static_cast<std::size_t>(j)];
        const double s = mix(3, 5, w);
        p.save();
        p.setPen(Qt::NoPen);
        p.setBrush(ui::primary(mix(0.5, 1, w)));
        p.drawEllipse(QRectF(dx, cy - s / 2, s, s));
        p.restore();
        dx += s + 2;
      }
    }
    x += kIconItem;
  }
}

void paintDesktop(QPainter& p, int d, const Look& look, QPointF origin) {
  const QRectF item(origin, QSizeF(kDesktopItemW, kDesktopItemH));
  if (const double selected = look.upper(d); selected > 0)
    ui::fillRounded(p, item, 7, ui::primary(0.2 * selected), ui::fadingAt(selected));
  const QPointF area = origin + QPointF(4, 4);
  ui::fillSampleWallpaper(p, QRectF(area + QPointF(4.32, 2.72), QSizeF(45.36, 28.56)), 3, 0.7);
  const auto& windows = SampleDesktops::desktops()[static_cast<std::size_t>(d)];
  // The window picked in the frame being reached is drawn last, above the other.
  const int top = Look::upper(look.to, d) ? look.to.window : -1;
  for (int pass = 0; pass < 2; ++pass) {
    for (int w = 0; w < 2; ++w) {
      if ((w == top) != (pass == 1)) continue;
      const double picked = look.window(d, w);
      const auto& window = windows[static_cast<std::size_t>(w)];
      const QRectF frame(area.x() + kDesktopW * window.frame.minX(), area.y() + kDesktopH * window.frame.minY(),
                         kDesktopW * window.frame.width(), kDesktopH * window.frame.height());
      p.save();
      const double scale = mix(1, 1.08, picked);
      p.translate(frame.center());
      p.scale(scale, scale);
      p.translate(-frame.center());
      // The window fades with its pick; its icon stands over it at full strength.
      p.save();
      p.setOpacity(p.opacity() * mix(0.7, 1, picked));
      ui::fillRounded(p, frame, 2, ui::windowBackground(), ui::lookAt(picked));
      ui::strokeRoundedInside(p, frame, 2, mix(ui::separator(), ui::accent(), picked), mix(0.5, 1.2, picked),
                              ui::lookAt(picked));
      p.restore();
      ui::drawImage(p, QRectF(frame.center().x() - 4.5, frame.bottom() - 4.5, 9, 9),
                    DemoIcons::top()[static_cast<std::size_t>(window.app)]);
      p.restore();
    }
  }
}

// Where the row and the tray begin within the miniature, unscaled.
QPointF rowOrigin(const Demo& demo, QSizeF size) {
  const double stackH = rowHeight(demo) + (trayCount(demo) > 0 ? kSpacing + kTrayItem : 0);
  return {(size.width() - rowWidth(demo)) / 2, (size.height() - stackH) / 2};
}
QPointF trayOrigin(const Demo& demo, QSizeF size) {
  return {(size.width() - trayCount(demo) * kTrayItem) / 2, rowOrigin(demo, size).y() + rowHeight(demo) + kSpacing};
}

// The unscaled area of every item whose look differs between frames `from` and `to`: a
// highlight, the dots or windows it holds, a tray icon.
QRectF changedArea(const Demo& demo, QSizeF size, const Demo::Step& from, const Demo::Step& to) {
  const auto differs = [&](int i) {
    if (Look::upper(from, i) != Look::upper(to, i)) return true;
    for (int w = 0; w < std::max(2, demo.windows); ++w)
      if (Look::window(from, i, w) != Look::window(to, i, w)) return true;
    return false;
  };
  QRectF area;
  const QPointF row = rowOrigin(demo, size);
  const int items = demo.tiles ? 2 : 4;
  for (int i = 0; i < items; ++i) {
    if (!differs(i)) continue;
    area |= demo.tiles ? QRectF(row.x() + i * (kDesktopItemW + kDivider), row.y(), kDesktopItemW, kDesktopItemH)
                       : QRectF(row.x() + i * kIconItem + (i >= 2 ? kDivider : 0), row.y(), kIconItem, kIconItemHeight);
  }
  const QPointF tray = trayOrigin(demo, size);
  for (int i = 0; i < trayCount(demo); ++i) {
    if (Look::tray(from, i) != Look::tray(to, i)) area |= QRectF(tray.x() + i * kTrayItem, tray.y(), kTrayItem, kTrayItem);
  }
  return area;
}

}  // namespace

MiniSwitcher::MiniSwitcher(Demo demo, Demo::Step step, QWidget* parent)
    : QWidget(parent),
      demo_(std::move(demo)),
      step_(std::move(step)),
      previous_(step_),
      opacity_(step_.open ? 1 : 0),
      scale_(step_.open ? kOpenScale : kClosedScale) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void MiniSwitcher::setStep(Demo::Step step, const Transition& transition) {
  // A frame that only presses or lets go of a key looks as the one before: nothing here
  // moves, so nothing is drawn again (a move under way goes on).
  const auto drawn = [](const Demo::Step& s) { return std::tuple(s.app, s.bottom, s.window, s.open); };
  if (drawn(step) == drawn(step_)) {
    step_ = std::move(step);
    return;
  }
  const bool openChanged = step.open != step_.open;
  previous_ = step_;
  step_ = std::move(step);
  // A highlight that moves repaints only the items it leaves and reaches; opening or
  // closing fades and scales the whole miniature.
  QRegion area;
  // While it still opens or closes, it is drawn whole anyway.
  if (!openChanged && scale_.value() == scale_.target()) {
    const QSizeF content = contentSize(demo_);
    QTransform t;
    t.translate(width() / 2.0, height() / 2.0);
    t.scale(scale(), scale());
    t.translate(-content.width() / 2, -content.height() / 2);
    const QRectF moved = changedArea(demo_, content, previous_, step_);
    if (moved.isEmpty()) {  // a pick that shows nowhere (a window of an app without dots)
      selection_ = ui::Tween(1);
      return;
    }
    // Windows enlarged 1.08 times and their outlines reach a little past their items.
    area = t.mapRect(moved).toAlignedRect().adjusted(-3, -3, 3, 3) & rect();
  }
  selection_ = ui::Tween(0);
  selection_.set(1, transition, this, area);
  if (openChanged) {
    opacity_.set(step_.open ? 1 : 0, transition, this);
    scale_.set(step_.open ? kOpenScale : kClosedScale, transition, this);
  }
}

QSizeF MiniSwitcher::contentSize(const Demo& demo) {
  const double trayWidth = trayCount(demo) * kTrayItem;
  return {std::max(rowWidth(demo), trayWidth) + 2 * kPadding, panelHeight};
}

void MiniSwitcher::paint(QPainter& p, const Demo& demo, const Demo::Step& step) { paint(p, demo, step, step, 1); }

void MiniSwitcher::paint(QPainter& p, const Demo& demo, const Demo::Step& from, const Demo::Step& step,
                         double progress) {
  const Look look{from, step, std::clamp(progress, 0.0, 1.0)};
  const QSizeF size = contentSize(demo);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  ui::fillRounded(p, QRectF(QPointF(0, 0), size), 12, ui::primary(0.05));
  const QPointF row = rowOrigin(demo, size);
  p.save();
  p.translate(row);
  if (demo.tiles) {
    paintDesktop(p, 0, look, {0, 0});
    divider(p, kDesktopItemW, kDesktopItemH);
    paintDesktop(p, 1, look, {kDesktopItemW + kDivider, 0});
  } else {
    paintIcons(p, demo, look);
  }
  p.restore();
  if (trayCount(demo) > 0) paintTray(p, demo, look, trayOrigin(demo, size));
  p.restore();
}

QSize MiniSwitcher::sizeHint() const {
  const QSizeF content = contentSize(demo_);
  return {static_cast<int>(std::ceil(content.width() * kOpenScale)),
          static_cast<int>(std::ceil(panelHeight * kOpenScale))};
}

void MiniSwitcher::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const double o = opacity();
  if (o <= 0) return;
  const QSizeF content = contentSize(demo_);
  p.setOpacity(o);
  p.translate(width() / 2.0, height() / 2.0);
  p.scale(scale(), scale());
  p.translate(-content.width() / 2, -content.height() / 2);
  paint(p, demo_, previous_, step_, selectionProgress());
}

}  // namespace trelliq
