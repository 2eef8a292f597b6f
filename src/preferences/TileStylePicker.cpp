#include "preferences/TileStylePicker.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <cmath>

#include "app/views/Symbol.h"
#include "preferences/TileStylePicture.h"
#include "ui/Paint.h"

namespace trelliq {
namespace {

struct CardText {
  const char* title;
  const char* caption;
};

CardText text(Settings::Tiles style) {
  switch (style) {
    case Settings::Tiles::windows:
      return {"Window tiles", "Each desktop is one tile, with its windows laid out as they are on screen"};
    case Settings::Tiles::both:
      return {"Hybrid", "App tiles on ⌘⇥, window tiles on ⌥⇥"};
    case Settings::Tiles::apps:
      break;
  }
  return {"App tiles", "Each app on a desktop gets its own tile, the way you're used to"};
}

struct Role {
  const char* label;
  const char* title;
  std::array<const char*, 2> keys;
};
constexpr std::array<Role, 2> kRoles{Role{"Primary", "App tiles", {"⌘", "⇥"}},
                                     Role{"Secondary", "Window tiles", {"⌥", "⇥"}}};

// The well behind the pictures: 88 tall, full width.
class PictureWell : public QWidget {
 public:
  explicit PictureWell(QWidget* parent) : QWidget(parent) { setFixedHeight(88); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    ui::fillRounded(painter, rect(), 8, ui::primary(0.05));
  }
};

constexpr double kKeyRadius = 5;

// The hybrid card's role rows. Each key label's shadow falls half a point below its plate,
// outside the label's 24 points: the rows cast it, under the labels.
class RoleRows : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      const auto* key = dynamic_cast<const KeyLabel*>(child);
      if (!key) continue;
      QPainterPath plate;
      plate.addRoundedRect(QRectF(key->geometry()), kKeyRadius, kKeyRadius);
      ui::paintShadow(painter, plate, 0.25, 0.5, QPointF(0, 0.5));
    }
  }
};

// Shows `widget` at `opacity`; fully opaque, it is drawn directly again.
void fade(QWidget* widget, double opacity) {
  if (opacity >= 1) {
    if (widget->graphicsEffect()) widget->setGraphicsEffect(nullptr);
    return;
  }
  auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
  if (!effect) {
    effect = new QGraphicsOpacityEffect(widget);
    widget->setGraphicsEffect(effect);
  }
  if (effect->opacity() != opacity) effect->setOpacity(opacity);
}

constexpr int kMarkSize = 15, kMarkBox = 17;

QLabel* secondaryText(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setFont(ui::systemFont(12));  // the callout size
  ui::setTextColor(label, ui::secondary());
  return label;
}

}  // namespace

// ---- KeyLabel ----------------------------------------------------------------------------

KeyLabel::KeyLabel(std::string key, QWidget* parent) : QWidget(parent), key_(std::move(key)) {}

QSize KeyLabel::sizeHint() const {
  QFont font;
  font.setPixelSize(13);
  font.setBold(true);
  const double text = QFontMetricsF(font).horizontalAdvance(QString::fromStdString(key_));
  return QSize(static_cast<int>(std::ceil(std::max(26.0, text))) + 4, 24);
}

void KeyLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // The plate covers the whole label; its shadow is the role rows' (RoleRows).
  const QRectF plate = QRectF(rect());
  ui::fillRounded(painter, plate, kKeyRadius, ui::controlBackground());
  ui::strokeRoundedInside(painter, plate, kKeyRadius, ui::separator(), 1);
  QFont font;
  font.setPixelSize(13);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(ui::primary());
  painter.drawText(plate, Qt::AlignCenter, QString::fromStdString(key_));
}

// ---- TileStyleCard -----------------------------------------------------------------------

// The round mark, drawn: an empty ring fading into a check in an accent disc as the card
// becomes selected. Its name is the symbol it shows once the change is over.
class TileStyleCard::Mark : public SymbolView {
 public:
  Mark(const TileStyleCard& card, QWidget* parent)
      : SymbolView("circle", ui::secondary(), kMarkSize, kMarkBox, parent), card_(card) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const double s = card_.selectedness();
    const QRectF glyph(width() / 2.0 - kMarkSize / 2.0, height() / 2.0 - kMarkSize / 2.0, kMarkSize, kMarkSize);
    painter.setOpacity(1 - s);
    drawShellSymbol(painter, "circle", glyph, ui::secondary());
    painter.setOpacity(s);
    drawShellSymbol(painter, "checkmark.circle.fill", glyph, ui::accent());
  }

 private:
  const TileStyleCard& card_;
};

TileStyleCard::TileStyleCard(Settings::Tiles style, std::function<void()> onClick, QWidget* parent)
    : QWidget(parent), style_(style), onClick_(std::move(onClick)) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(10, 10, 10, 10);
  stack->setSpacing(8);
  auto* well = new PictureWell(this);
  auto* pictures = new QVBoxLayout(well);
  pictures->setContentsMargins(0, 0, 0, 0);
  pictures->setSpacing(4);
  pictures->setAlignment(Qt::AlignCenter);
  if (style_ == Settings::Tiles::both) {
    pictures->addWidget(new TileStylePicture(Settings::Tiles::apps, 0.45, well), 0, Qt::AlignHCenter);
    pictures->addWidget(new TileStylePicture(Settings::Tiles::windows, 0.45, well), 0, Qt::AlignHCenter);
  } else {
    pictures->addWidget(new TileStylePicture(style_, 0.7, well), 0, Qt::AlignHCenter);
  }
  stack->addWidget(well);
  auto* heading = new QHBoxLayout();
  heading->setSpacing(6);
  mark_ = new Mark(*this, this);
  heading->addWidget(mark_, 0, Qt::AlignVCenter);
  auto* title = new QLabel(text(style_).title, this);
  title->setFont(ui::systemFont(13, QFont::Bold));  // the headline style, as the permission rows' titles
  heading->addWidget(title, 1, Qt::AlignVCenter);
  stack->addLayout(heading);
  caption_ = secondaryText(text(style_).caption, this);
  stack->addWidget(caption_);
  if (style_ == Settings::Tiles::both) {
    roles_ = new RoleRows(this);
    auto* rows = new QVBoxLayout(roles_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);  // the rows are children of the card's stack
    for (const Role& role : kRoles) {
      // The role line and its title, 2 apart.
      auto* stack = new QVBoxLayout();
      stack->setSpacing(2);
      auto* line = new QHBoxLayout();
      line->setSpacing(6);
      auto* label = new QLabel(QString(role.label).toUpper(), roles_);
      label->setFont(ui::systemFont(10, QFont::DemiBold));  // the caption size
      ui::setTextColor(label, ui::secondary());
      label->setObjectName("role");
      line->addWidget(label);
      line->addItem(new QSpacerItem(4, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
      auto* keys = new QHBoxLayout();
      keys->setSpacing(3);
      for (const char* key : role.keys) keys->addWidget(new KeyLabel(key, roles_));
      line->addLayout(keys);
      stack->addLayout(line);
      auto* title = new QLabel(role.title, roles_);
      title->setFont(ui::systemFont(12, QFont::Medium));
      title->setObjectName("roleTitle");
      stack->addWidget(title);
      rows->addLayout(stack);
    }
    stack->addWidget(roles_);
  }
  stack->addStretch(1);
  setSelected(false);
}

void TileStyleCard::setSelected(bool selected, const Transition& transition) {
  selected_ = selected;
  selection_.set(selected_ ? 1 : 0, transition, this);  // an immediate transition lands at once
  if (selected_) {
    mark_->set("checkmark.circle.fill", ui::accent());
  } else {
    mark_->set("circle", ui::secondary());
  }
  // The hybrid card swaps its caption for the role rows at once; what comes in fades in.
  if (roles_) {
    roles_->setHidden(!selected_);
    caption_->setHidden(selected_);
  }
  update();
}

std::string TileStyleCard::title() const { return text(style_).title; }

std::string TileStyleCard::caption() const { return caption_->isHidden() ? std::string() : caption_->text().toStdString(); }

std::vector<std::string> TileStyleCard::roles() const {
  std::vector<std::string> rows;
  if (!roles_ || roles_->isHidden()) return rows;
  for (const Role& role : kRoles) {
    std::string row = QString(role.label).toUpper().toStdString() + " " + role.title;
    for (const char* key : role.keys) row += std::string(" ") + key;
    rows.push_back(row);
  }
  return rows;
}

void TileStyleCard::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const double s = selectedness();
  ui::fillRounded(painter, rect(), 12, ui::primary(fillOpacity()));
  ui::strokeRoundedInside(painter, rect(), 12, ui::mix(ui::separator(), ui::accent(), s), borderWidth());
  if (roles_) {
    fade(roles_, s);
    fade(caption_, 1 - s);
  }
}

void TileStyleCard::mousePressEvent(QMouseEvent* event) {
  // The whole card takes the click, its empty parts included.
  if (event->button() == Qt::LeftButton && onClick_) {
    onClick_();
    return;
  }
  QWidget::mousePressEvent(event);
}

// ---- TileStylePicker ---------------------------------------------------------------------

TileStylePicker::TileStylePicker(StoredString selection, QWidget* parent)
    : QWidget(parent), selection_(std::move(selection)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 4, 0, 4);
  row->setSpacing(12);
  for (const auto style : Settings::Tiles::allCases()) {
    auto* card = new TileStyleCard(style, [this, style] { click(style); }, this);
    cards_[static_cast<std::size_t>(style)] = card;
    row->addWidget(card, 1);
  }
  refresh();
}

void TileStylePicker::click(Settings::Tiles style) {
  selection_.set(std::string(style.rawValue()));
  refresh(selectionChange);
  if (onChange_) onChange_();
}

void TileStylePicker::refresh(const Transition& transition) {
  const std::string stored = selection_.get();
  for (TileStyleCard* card : cards_) card->setSelected(stored == card->style().rawValue(), transition);
}

}  // namespace trelliq
