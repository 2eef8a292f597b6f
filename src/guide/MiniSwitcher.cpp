#include "guide/MiniSwitcher.h"

#include <QLinearGradient>
#include <cmath>

#include "guide/DemoIcons.h"
#include "guide/model/SampleDesktops.h"

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
  guide::fillRounded(p, QRectF(x + 3, (rowH - 30) / 2, 1, 30), 0, guide::primary(0.2));
}

void paintTray(QPainter& p, const Demo& demo, const Demo::Step& step, QPointF origin) {
  const auto& icons = DemoIcons::bottom();
  for (int i = 0; i < trayCount(demo); ++i) {
    const QRectF item(origin.x() + i * kTrayItem, origin.y(), kTrayItem, kTrayItem);
    const bool selected = step.bottom && step.app == i;
    if (selected) guide::fillRounded(p, item, 5, guide::primary(0.2));
    guide::drawImage(p, item.adjusted(3, 3, -3, -3), icons[static_cast<std::size_t>(i)], selected ? 1 : 0.55);
  }
}

void paintIcons(QPainter& p, const Demo& demo, const Demo::Step& step) {
  const auto& icons = DemoIcons::top();
  double x = 0;
  for (int i = 0; i < 4; ++i) {
    if (i == 2) {
      divider(p, x, kIconItemHeight);
      x += kDivider;
    }
    const QRectF item(x, 0, kIconItem, kIconItemHeight);
    const bool selected = !step.bottom && step.app == i;
    if (selected) guide::fillRounded(p, item, 7, guide::primary(0.2));
    guide::drawImage(p, QRectF(x + 4, 4, 26, 26), icons[static_cast<std::size_t>(i)]);
    if (i == 1 && demo.windows >= 2) {
      // The dots of the app's windows, the picked one large and opaque.
      std::vector<double> sizes;
      for (int j = 0; j < demo.windows; ++j) sizes.push_back(selected && j == step.window ? 5 : 3);
      double total = 2.0 * (demo.windows - 1);
      for (double s : sizes) total += s;
      double dx = item.center().x() - total / 2;
      const double cy = 4 + 26 + 3 + 2.5;
      for (int j = 0; j < demo.windows; ++j) {
        const double s = sizes[static_cast<std::size_t>(j)];
        p.save();
        p.setPen(Qt::NoPen);
        p.setBrush(guide::primary(s == 5 ? 1 : 0.5));
        p.drawEllipse(QRectF(dx, cy - s / 2, s, s));
        p.restore();
        dx += s + 2;
      }
    }
    x += kIconItem;
  }
}

void paintDesktop(QPainter& p, int d, const Demo::Step& step, QPointF origin) {
  const bool selected = !step.bottom && step.app == d;
  const QRectF item(origin, QSizeF(kDesktopItemW, kDesktopItemH));
  if (selected) guide::fillRounded(p, item, 7, guide::primary(0.2));
  const QPointF area = origin + QPointF(4, 4);
  guide::fillSampleWallpaper(p, QRectF(area + QPointF(4.32, 2.72), QSizeF(45.36, 28.56)), 3, 0.7);
  const auto& windows = SampleDesktops::desktops()[static_cast<std::size_t>(d)];
  const int picked = selected ? step.window : -1;
  // The picked window is drawn last, above the other.
  for (int pass = 0; pass < 2; ++pass) {
    for (int w = 0; w < 2; ++w) {
      const bool isPicked = w == picked;
      if (isPicked != (pass == 1)) continue;
      const auto& window = windows[static_cast<std::size_t>(w)];
      const QRectF frame(area.x() + kDesktopW * window.frame.minX(), area.y() + kDesktopH * window.frame.minY(),
                         kDesktopW * window.frame.width(), kDesktopH * window.frame.height());
      p.save();
      p.setOpacity(p.opacity() * (isPicked ? 1 : 0.7));
      if (isPicked) {
        p.translate(frame.center());
        p.scale(1.08, 1.08);
        p.translate(-frame.center());
      }
      guide::fillRounded(p, frame, 2, guide::windowBackground());
      guide::strokeRoundedInside(p, frame, 2, isPicked ? guide::accent() : guide::separator(), isPicked ? 1.2 : 0.5);
      guide::drawImage(p, QRectF(frame.center().x() - 4.5, frame.bottom() - 4.5, 9, 9),
                       DemoIcons::top()[static_cast<std::size_t>(window.app)]);
      p.restore();
    }
  }
}

}  // namespace

MiniSwitcher::MiniSwitcher(Demo demo, Demo::Step step, QWidget* parent)
    : QWidget(parent),
      demo_(std::move(demo)),
      step_(std::move(step)),
      opacity_(step_.open ? 1 : 0),
      scale_(step_.open ? kOpenScale : kClosedScale) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void MiniSwitcher::setStep(Demo::Step step, const Transition& transition) {
  const bool openChanged = step.open != step_.open;
  step_ = std::move(step);
  if (openChanged) {
    opacity_.set(step_.open ? 1 : 0, transition, this);
    scale_.set(step_.open ? kOpenScale : kClosedScale, transition, this);
  }
  update();
}

QSizeF MiniSwitcher::contentSize(const Demo& demo) {
  const double trayWidth = trayCount(demo) * kTrayItem;
  return {std::max(rowWidth(demo), trayWidth) + 2 * kPadding, panelHeight};
}

void MiniSwitcher::paint(QPainter& p, const Demo& demo, const Demo::Step& step) {
  const QSizeF size = contentSize(demo);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  guide::fillRounded(p, QRectF(QPointF(0, 0), size), 12, guide::primary(0.05));
  const double stackH = rowHeight(demo) + (trayCount(demo) > 0 ? kSpacing + kTrayItem : 0);
  const double top = (size.height() - stackH) / 2;
  const double rowX = (size.width() - rowWidth(demo)) / 2;
  p.save();
  p.translate(rowX, top);
  if (demo.tiles) {
    paintDesktop(p, 0, step, {0, 0});
    divider(p, kDesktopItemW, kDesktopItemH);
    paintDesktop(p, 1, step, {kDesktopItemW + kDivider, 0});
  } else {
    paintIcons(p, demo, step);
  }
  p.restore();
  if (trayCount(demo) > 0) {
    const double trayX = (size.width() - trayCount(demo) * kTrayItem) / 2;
    paintTray(p, demo, step, {trayX, top + rowHeight(demo) + kSpacing});
  }
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
  paint(p, demo_, step_);
}

}  // namespace trelliq
