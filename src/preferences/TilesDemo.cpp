#include "preferences/TilesDemo.h"

#include <QLabel>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>
#include <initializer_list>

#include "guide/InlineKeys.h"
#include "ui/DemoIcons.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

const std::vector<CGImageRef>& icons() {
  static const std::vector<CGImageRef> copy = DemoIcons::top();
  return copy;
}

QFont semibold(double size) { return ui::systemFont(size, QFont::DemiBold); }

}  // namespace

// The miniature panel, drawn from the demo's step: each highlight, front window and name
// label moves from one step's look to the next over the step's transition.
class TilesDemo::Miniature : public QWidget {
 public:
  Miniature(const TilesDemo& demo, QWidget* parent) : QWidget(parent), demo_(demo) {
    const auto& z = TilesDemo::sizes(demo.compact());
    setFixedHeight(static_cast<int>(z.height + 18));
    setMinimumWidth(static_cast<int>(std::ceil(contentWidth() + 2 * z.sidePadding)));
    follow(Transition::immediate());
  }

  /// Moves every part towards the demo's step now.
  void follow(const Transition& transition) {
    const int step = demo_.step();
    const int desktop = TilesDemo::currentDesktop(step), front = TilesDemo::frontWindow(step);
    for (int app = 0; app < TilesDemo::steps; ++app) move(lit_[app], app == step, transition, appArea(app));
    // App tiles draw no desktop and no front window: those move unseen there.
    const bool desktops = demo_.kind() == TilesDemo::Kind::windows;
    for (int d = 0; d < 2; ++d) {
      move(current_[d], d == desktop, transition, desktopArea(d), desktops);
      for (int k = 0; k < 2; ++k) move(front_[d][k], d == desktop && k == front, transition, desktopArea(d), desktops);
    }
  }

  /// How far app `app`'s highlight and name label are shown now, 0 to 1.
  double lit(int app) const { return lit_[static_cast<std::size_t>(app)].value(); }
  /// How far window `k` of desktop `d` is drawn as the front window now, 0 to 1.
  double front(int d, int k) const { return front_[static_cast<std::size_t>(d)][static_cast<std::size_t>(k)].value(); }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto& z = TilesDemo::sizes(demo_.compact());
    ui::fillRounded(painter, panel(), z.radius, ui::primary(0.07));
    // A frame of a move repaints only the parts that move; the others are not drawn at all.
    const QRegion& dirty = event->region();
    for (int d = 0; d < 2; ++d) {
      const double x = columnLeft(d);
      if (d > 0) painter.fillRect(QRectF(x - 1 - z.dividerPadding, top() + 18, 1, 30), ui::primary(0.15));
      const double column = columnWidth();
      const QRectF label(x, top(), column, kLabelHeight);
      if (dirty.intersects(label.toAlignedRect())) {
        painter.setFont(semibold(9));
        painter.setPen(ui::secondary());
        painter.drawText(label, Qt::AlignCenter, QString("Desktop %1").arg(d + 1));
      }
      if (demo_.kind() == TilesDemo::Kind::apps) {
        for (int k = 0; k < 2; ++k) {
          if (dirty.intersects(appArea(2 * d + k))) appTile(painter, appTileRect(2 * d + k).topLeft(), 2 * d + k, z);
        }
      } else if (dirty.intersects(desktopArea(d))) {
        desktopTile(painter, desktopOuter(d).topLeft(), d, z);
      }
    }
  }

 private:
  // An immediate transition lands at once.
  void move(ui::Tween& tween, bool on, const Transition& transition, const QRect& area, bool drawn = true) {
    tween.set(on ? 1 : 0, transition, drawn ? this : nullptr, area);
  }

  // The panel: 6 above the desktops' labels and tiles and the bottom padding below them,
  // standing in the middle of the miniature's height.
  static constexpr double kTopPadding = 6, kLabelHeight = 12, kLabelGap = 4;
  QRectF panel() const {
    const auto& z = TilesDemo::sizes(demo_.compact());
    const double w = contentWidth();
    const double h = kTopPadding + contentHeight() + z.bottomPadding;
    return {(width() - w) / 2 - z.sidePadding, (z.height - h) / 2, w + 2 * z.sidePadding, h};
  }
  // Where the desktops' labels start.
  double top() const { return panel().top() + kTopPadding; }
  double contentHeight() const {
    const auto& z = TilesDemo::sizes(demo_.compact());
    const double tile =
        demo_.kind() == TilesDemo::Kind::apps ? z.appIcon + 4 + 4 + 10 : z.tileH + z.windowIcon / 2 + 10;
    return kLabelHeight + kLabelGap + tile;
  }
  // Desktop `d`'s column, right of the divider for the second.
  double columnLeft(int d) const {
    const auto& z = TilesDemo::sizes(demo_.compact());
    const double left = panel().left() + z.sidePadding;
    return d == 0 ? left : left + columnWidth() + 2 * z.dividerPadding + 1;
  }
  QRectF appTileRect(int app) const {
    const auto& z = TilesDemo::sizes(demo_.compact());
    const double tile = z.appIcon + 10;
    const double left = columnLeft(app / 2) + (columnWidth() - (2 * tile + 4)) / 2;
    return {left + (app % 2) * (tile + 4), top() + kLabelHeight + kLabelGap, z.appIcon + 10, z.appIcon + 4 + 4 + 10};
  }
  QRectF desktopOuter(int d) const {
    const auto& z = TilesDemo::sizes(demo_.compact());
    return {columnLeft(d) + (columnWidth() - (z.tileW + 10)) / 2, top() + kLabelHeight + kLabelGap, z.tileW + 10,
            z.tileH + z.windowIcon / 2 + 10};
  }
  // The pixels a tile and the name labels drawn below it (of `apps`) may cover, with a pixel
  // for the smoothing (a front window's shadow and enlargement stay within its desktop's
  // padding).
  static QRect withLabels(const QRectF& tile, std::initializer_list<int> apps) {
    QRectF area = tile;
    for (const int app : apps) area |= labelRect(QPointF(tile.center().x(), tile.bottom()), app);
    return area.toAlignedRect().adjusted(-2, -2, 2, 2);
  }
  QRect appArea(int app) const {
    if (demo_.kind() == TilesDemo::Kind::apps) return withLabels(appTileRect(app), {app});
    QRect area;
    for (int d = 0; d < 2; ++d) {
      for (const auto& window : SampleDesktops::desktops()[static_cast<std::size_t>(d)])
        if (window.app == app) area |= desktopArea(d);
    }
    return area;
  }
  // Under a desktop, the names of its windows' apps.
  QRect desktopArea(int d) const {
    const auto& windows = SampleDesktops::desktops()[static_cast<std::size_t>(d)];
    return withLabels(desktopOuter(d), {windows[0].app, windows[1].app});
  }

  double columnWidth() const {
    const auto& z = TilesDemo::sizes(demo_.compact());
    return demo_.kind() == TilesDemo::Kind::apps ? 2 * (z.appIcon + 10) + 4 : z.tileW + 10;
  }
  double contentWidth() const {
    const auto& z = TilesDemo::sizes(demo_.compact());
    return 2 * columnWidth() + 1 + 2 * z.dividerPadding;
  }

  // The app's name just below `bottomCentre`, at `opacity`.
  static void nameLabel(QPainter& painter, QPointF bottomCentre, int app, double opacity) {
    if (opacity <= 0) return;
    // Shaped once: shaping a name again on every frame of a step costs more than drawing it.
    static const std::array<ui::LaidOutLine, TilesDemo::steps> names = [] {
      const QFont font = semibold(11);
      return std::array<ui::LaidOutLine, TilesDemo::steps>{
          ui::LaidOutLine(TilesDemo::names[0], font), ui::LaidOutLine(TilesDemo::names[1], font),
          ui::LaidOutLine(TilesDemo::names[2], font), ui::LaidOutLine(TilesDemo::names[3], font)};
    }();
    painter.save();
    painter.setPen(ui::faded(ui::primary(), opacity));
    names[static_cast<std::size_t>(app)].drawCentred(painter, labelRect(bottomCentre, app));
    painter.restore();
  }
  static QRectF labelRect(QPointF bottomCentre, int app) {
    // Measured once: a frame asks for the labels' places many times.
    static const std::array<double, TilesDemo::steps> widths = [] {
      std::array<double, TilesDemo::steps> each{};
      const QFontMetricsF metrics(semibold(11));
      for (std::size_t i = 0; i < each.size(); ++i) each[i] = metrics.horizontalAdvance(TilesDemo::names[i]) + 2;
      return each;
    }();
    const double w = widths[static_cast<std::size_t>(app)];
    // Centred over the bottom edge, then 20 down: it stands just below.
    return {bottomCentre.x() - w / 2, bottomCentre.y() - 14 + 20, w, 14};
  }

  void appTile(QPainter& painter, QPointF at, int app, const TilesDemo::Sizes& z) const {
    const double zz = z.appIcon;
    const QRectF tile(at, QSizeF(zz + 10, zz + 4 + 4 + 10));
    const double shown = lit(app);
    if (shown > 0) ui::fillRounded(painter, tile, 0.3 * zz, ui::primary(0.2 * shown), ui::fadingAt(shown));
    ui::drawImage(painter, QRectF(at.x() + 5, at.y() + 5, zz, zz), icons()[static_cast<std::size_t>(app)]);
    if (app == 1) {  // Safari's two windows
      const double cy = at.y() + 5 + zz + 4 + 2;
      for (int k = 0; k < 2; ++k) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(ui::primary(0.6));
        painter.drawEllipse(QPointF(tile.center().x() + (k == 0 ? -3.5 : 3.5), cy), 2, 2);
      }
    }
    nameLabel(painter, QPointF(tile.center().x(), tile.bottom()), app, shown);
  }

  void desktopTile(QPainter& painter, QPointF at, int d, const TilesDemo::Sizes& z) const {
    const double W = z.tileW;
    const double H = z.tileH;
    const double c = z.windowIcon;
    const QRectF outer(at, QSizeF(W + 10, H + c / 2 + 10));
    const double current = current_[static_cast<std::size_t>(d)].value();
    if (current > 0) ui::fillRounded(painter, outer, 10, ui::primary(0.2 * current), ui::fadingAt(current));
    const QPointF o = at + QPointF(5, 5);
    const QRectF wall(o.x() + 0.08 * W, o.y() + 0.08 * H, 0.84 * W, 0.84 * H);
    ui::fillSampleWallpaper(painter, wall, 4, 0.7);
    const auto& windows = SampleDesktops::desktops()[static_cast<std::size_t>(d)];
    // The front window of the step is drawn last, above the other, wherever it stands in
    // the list; the order changes at once, the look over the transition.
    const bool firstOnTop = front_[static_cast<std::size_t>(d)][0].target() > 0;
    for (const int k : {firstOnTop ? 1 : 0, firstOnTop ? 0 : 1}) {
      const double f = front(d, k);
      const auto& frame = windows[static_cast<std::size_t>(k)].frame;
      QRectF card(o.x() + W * frame.minX(), o.y() + H * frame.minY(), W * frame.width(), H * frame.height());
      const double scale = 1 + 0.08 * f;
      const QPointF centre = card.center();
      card = QRectF(0, 0, card.width() * scale, card.height() * scale);
      card.moveCenter(centre);
      painter.save();
      painter.setOpacity(0.7 + 0.3 * f);
      ui::fillRaised(painter, card, 3, ui::windowBackground(), 0.25, 1, ui::lookAt(f));
      ui::strokeRoundedInside(painter, card, 3, ui::mix(ui::separator(), ui::accent(), f), 0.5 + f, ui::lookAt(f));
      const double icon = c * scale;
      ui::drawImage(painter, QRectF(card.center().x() - icon / 2, card.bottom() - icon / 2, icon, icon),
                    icons()[static_cast<std::size_t>(windows[static_cast<std::size_t>(k)].app)]);
      painter.restore();
    }
    // Under the desktop, the name of its front window's app.
    for (int k = 0; k < 2; ++k) {
      const int app = windows[static_cast<std::size_t>(k)].app;
      nameLabel(painter, QPointF(outer.center().x(), outer.bottom()), app, lit(app));
    }
  }

  const TilesDemo& demo_;
  std::array<ui::Tween, TilesDemo::steps> lit_;
  std::array<ui::Tween, 2> current_;
  std::array<std::array<ui::Tween, 2>, 2> front_;
};

const TilesDemo::Sizes& TilesDemo::sizes(bool compact) {
  static const Sizes normal{14, 112, 36, 100, 62, 15, 12, 10, 18, 10};
  static const Sizes small{10, 96, 28, 76, 48, 12, 8, 8, 14, 6};
  return compact ? small : normal;
}

TilesDemo::TilesDemo(Kind kind, std::string hold, std::string title, bool compact, Start start, QWidget* parent)
    : QWidget(parent), kind_(kind), hold_(std::move(hold)), title_(std::move(title)), compact_(compact) {
  player_ = std::make_unique<DemoPlayer>(steps, [](int) { return true; }, timing);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(static_cast<int>(sizes(compact_).spacing));
  auto* heading = new QLabel(QString::fromStdString(title_).toUpper(), this);
  heading->setFont(semibold(10));
  ui::setTextColor(heading, ui::secondary());
  layout->addWidget(heading, 0, Qt::AlignHCenter);
  miniature_ = new Miniature(*this, this);
  layout->addWidget(miniature_);
  keys_ = new InlineKeys({hold_, "⇥"}, {hold_}, std::nullopt, "⌘", this);
  layout->addWidget(keys_, 0, Qt::AlignHCenter);
  player_->onChange = [this](const Transition& transition) { changed(transition); };
  if (start == Start::playing) player_->start();
}

TilesDemo::~TilesDemo() { player_->onChange = nullptr; }

void TilesDemo::setPlaying(bool playing) {
  if (playing) {
    player_->start();
  } else {
    player_->stop();
    changed(Transition::immediate());
  }
}

double TilesDemo::shown(int app) const { return miniature_->lit(app); }

double TilesDemo::front(int desktop, int window) const { return miniature_->front(desktop, window); }

void TilesDemo::changed(const Transition& transition) {
  keys_->setState({hold_}, keyDown() ? std::optional<std::string>("⇥") : std::nullopt, transition);
  miniature_->follow(transition);
}

}  // namespace trelliq
