#include "preferences/TilesDemo.h"

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

#include "guide/DemoIcons.h"
#include "guide/GuidePaint.h"
#include "guide/InlineKeys.h"

namespace trelliq {
namespace {

const std::vector<CGImageRef>& icons() {
  static const std::vector<CGImageRef> copy = DemoIcons::top();
  return copy;
}

QFont semibold(double size) { return guide::systemFont(size, QFont::DemiBold); }

// The miniature panel, drawn from the demo's step.
class Miniature : public QWidget {
 public:
  Miniature(const TilesDemo& demo, QWidget* parent) : QWidget(parent), demo_(demo) {
    const auto& z = TilesDemo::sizes(demo.compact());
    setFixedHeight(static_cast<int>(z.height + 18));
    setMinimumWidth(static_cast<int>(std::ceil(contentWidth() + 2 * z.sidePadding)));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto& z = TilesDemo::sizes(demo_.compact());
    const double w = contentWidth();
    const QRectF panel((width() - w) / 2 - z.sidePadding, 0, w + 2 * z.sidePadding, z.height);
    guide::fillRounded(painter, panel, z.radius, guide::primary(0.07));
    double x = panel.left() + z.sidePadding;
    const double top = 6;
    for (int d = 0; d < 2; ++d) {
      if (d > 0) {
        x += z.dividerPadding;
        painter.fillRect(QRectF(x, top + 18, 1, 30), guide::primary(0.15));
        x += 1 + z.dividerPadding;
      }
      const double column = columnWidth();
      painter.setFont(semibold(9));
      painter.setPen(guide::secondary());
      painter.drawText(QRectF(x, top, column, 12), Qt::AlignCenter, QString("Desktop %1").arg(d + 1));
      const double y = top + 12 + 4;
      if (demo_.kind() == TilesDemo::Kind::apps) {
        const double tile = z.appIcon + 10;
        const double left = x + (column - (2 * tile + 4)) / 2;
        for (int k = 0; k < 2; ++k) appTile(painter, QPointF(left + k * (tile + 4), y), 2 * d + k, z);
      } else {
        desktopTile(painter, QPointF(x + (column - (z.tileW + 10)) / 2, y), d, z);
      }
      x += column;
    }
  }

 private:
  double columnWidth() const {
    const auto& z = TilesDemo::sizes(demo_.compact());
    return demo_.kind() == TilesDemo::Kind::apps ? 2 * (z.appIcon + 10) + 4 : z.tileW + 10;
  }
  double contentWidth() const {
    const auto& z = TilesDemo::sizes(demo_.compact());
    return 2 * columnWidth() + 1 + 2 * z.dividerPadding;
  }

  static void nameLabel(QPainter& painter, QPointF bottomCentre, int app) {
    painter.setFont(semibold(11));
    painter.setPen(guide::primary());
    const QString name = TilesDemo::names[static_cast<std::size_t>(app)];
    const double w = QFontMetricsF(painter.font()).horizontalAdvance(name) + 2;
    // Centred over the bottom edge, then 20 down: it stands just below.
    painter.drawText(QRectF(bottomCentre.x() - w / 2, bottomCentre.y() - 14 + 20, w, 14), Qt::AlignCenter, name);
  }

  void appTile(QPainter& painter, QPointF at, int app, const TilesDemo::Sizes& z) const {
    const double zz = z.appIcon;
    const QRectF tile(at, QSizeF(zz + 10, zz + 4 + 4 + 10));
    const bool lit = demo_.step() == app;
    if (lit) guide::fillRounded(painter, tile, 0.3 * zz, guide::primary(0.2));
    guide::drawImage(painter, QRectF(at.x() + 5, at.y() + 5, zz, zz), icons()[static_cast<std::size_t>(app)]);
    if (app == 1) {  // Safari's two windows
      const double cy = at.y() + 5 + zz + 4 + 2;
      for (int k = 0; k < 2; ++k) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(guide::primary(0.6));
        painter.drawEllipse(QPointF(tile.center().x() + (k == 0 ? -3.5 : 3.5), cy), 2, 2);
      }
    }
    if (lit) nameLabel(painter, QPointF(tile.center().x(), tile.bottom()), app);
  }

  void desktopTile(QPainter& painter, QPointF at, int d, const TilesDemo::Sizes& z) const {
    const double W = z.tileW;
    const double H = z.tileH;
    const double c = z.windowIcon;
    const bool current = TilesDemo::currentDesktop(demo_.step()) == d;
    const int front = current ? TilesDemo::frontWindow(demo_.step()) : -1;
    const QRectF outer(at, QSizeF(W + 10, H + c / 2 + 10));
    if (current) guide::fillRounded(painter, outer, 10, guide::primary(0.2));
    const QPointF o = at + QPointF(5, 5);
    const QRectF wall(o.x() + 0.08 * W, o.y() + 0.08 * H, 0.84 * W, 0.84 * H);
    guide::fillSampleWallpaper(painter, wall, 4, 0.7);
    const auto& windows = SampleDesktops::desktops()[static_cast<std::size_t>(d)];
    // The front window is drawn last, above the other, wherever it stands in the list.
    for (int pass = 0; pass < 2; ++pass) {
      for (int k = 0; k < 2; ++k) {
        const bool isFront = k == front;
        if (isFront != (pass == 1)) continue;
        const auto& f = windows[static_cast<std::size_t>(k)].frame;
        QRectF card(o.x() + W * f.minX(), o.y() + H * f.minY(), W * f.width(), H * f.height());
        if (isFront) {
          const QPointF centre = card.center();
          card = QRectF(0, 0, card.width() * 1.08, card.height() * 1.08);
          card.moveCenter(centre);
        }
        painter.save();
        painter.setOpacity(isFront ? 1 : 0.7);
        guide::fillRaised(painter, card, 3, guide::windowBackground());
        guide::strokeRoundedInside(painter, card, 3, isFront ? guide::accent() : guide::separator(),
                                   isFront ? 1.5 : 0.5);
        const double icon = c * (isFront ? 1.08 : 1);
        guide::drawImage(painter, QRectF(card.center().x() - icon / 2, card.bottom() - icon / 2, icon, icon),
                         icons()[static_cast<std::size_t>(windows[static_cast<std::size_t>(k)].app)]);
        painter.restore();
      }
    }
    if (current) {
      nameLabel(painter, QPointF(outer.center().x(), outer.bottom()),
                windows[static_cast<std::size_t>(front)].app);
    }
  }

  const TilesDemo& demo_;
};

}  // namespace

const TilesDemo::Sizes& TilesDemo::sizes(bool compact) {
  static const Sizes normal{14, 112, 36, 100, 62, 15, 12, 10, 18, 10};
  static const Sizes small{10, 96, 28, 76, 48, 12, 8, 8, 14, 6};
  return compact ? small : normal;
}

TilesDemo::TilesDemo(Kind kind, std::string hold, std::string title, bool compact, QWidget* parent)
    : QWidget(parent), kind_(kind), hold_(std::move(hold)), title_(std::move(title)), compact_(compact) {
  player_ = std::make_unique<DemoPlayer>(steps, [](int) { return true; }, timing);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(static_cast<int>(sizes(compact_).spacing));
  auto* heading = new QLabel(QString::fromStdString(title_).toUpper(), this);
  heading->setFont(semibold(10));
  heading->setStyleSheet("color: rgba(0,0,0,128);");
  layout->addWidget(heading, 0, Qt::AlignHCenter);
  miniature_ = new Miniature(*this, this);
  layout->addWidget(miniature_);
  keys_ = new InlineKeys({hold_, "⇥"}, {hold_}, std::nullopt, "⌘", this);
  layout->addWidget(keys_, 0, Qt::AlignHCenter);
  player_->onChange = [this](const Transition&) { changed(); };
  player_->start();
}

TilesDemo::~TilesDemo() { player_->onChange = nullptr; }

void TilesDemo::setPlaying(bool playing) {
  if (playing) {
    player_->start();
  } else {
    player_->stop();
    changed();
  }
}

void TilesDemo::changed() {
  keys_->setState({hold_}, keyDown() ? std::optional<std::string>("⇥") : std::nullopt);
  miniature_->update();
}

}  // namespace trelliq
