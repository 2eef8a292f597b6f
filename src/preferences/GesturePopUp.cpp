#include "preferences/GesturePopUp.h"

#include <QAbstractItemDelegate>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include "platform/AppKitWorkspace.h"
#include "ui/Paint.h"

namespace trelliq {

namespace {

constexpr const char* kInUse = "   in use: ";
// Where an item's in-use note starts in its text; absent for an item without one.
constexpr int kNoteStartRole = Qt::UserRole + 1;

// Draws a noted item of the open menu as its title followed by the note in italics; every
// other item (the separator too) as the pop-up's own delegate draws it.
class NotedItemDelegate : public QAbstractItemDelegate {
 public:
  NotedItemDelegate(QAbstractItemDelegate* plain, QObject* parent) : QAbstractItemDelegate(parent), plain_(plain) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QVariant start = index.data(kNoteStartRole);
    if (!start.isValid()) return plain_->paint(painter, option, index);
    const QString text = index.data(Qt::DisplayRole).toString();
    const int at = std::clamp(start.toInt(), 0, static_cast<int>(text.size()));
    painter->save();
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) painter->fillRect(option.rect, option.palette.highlight());
    QColor ink = selected ? option.palette.highlightedText().color() : option.palette.text().color();
    if (const QVariant color = index.data(Qt::ForegroundRole); color.canConvert<QColor>() && !selected) {
      ink = color.value<QColor>();
    }
    painter->setPen(ink);
    const QRect box = option.rect.adjusted(kTextInset, 0, -kTextInset, 0);
    painter->setFont(option.font);
    const QString title = text.left(at);
    painter->drawText(box, Qt::AlignLeft | Qt::AlignVCenter, title);
    QFont italic = option.font;
    italic.setItalic(true);
    painter->setFont(italic);
    const int titleWidth = QFontMetrics(option.font).horizontalAdvance(title);
    painter->drawText(box.adjusted(titleWidth, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text.mid(at));
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = plain_->sizeHint(option, index);
    if (index.data(kNoteStartRole).isValid()) {
      QFont italic = option.font;
      italic.setItalic(true);
      const QString text = index.data(Qt::DisplayRole).toString();
      const int at = index.data(kNoteStartRole).toInt();
      const int wide = QFontMetrics(option.font).horizontalAdvance(text.left(at)) +
                       QFontMetrics(italic).horizontalAdvance(text.mid(at)) + 2 * kTextInset;
      size.setWidth(std::max(size.width(), wide));
    }
    return size;
  }

 private:
  static constexpr int kTextInset = 4;
  QAbstractItemDelegate* plain_;  // owned by the pop-up
};

}  // namespace

GesturePopUp::GesturePopUp(StoredString selection, QWidget* parent)
    : QComboBox(parent), selection_(std::move(selection)) {
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  // The pop-up keeps its own delegate (it is not deleted on replacement) for the plain items.
  setItemDelegate(new NotedItemDelegate(itemDelegate(), this));
  connect(this, &QComboBox::activated, this, [this](int index) { choose(index); });
  fill();
}

void GesturePopUp::paintEvent(QPaintEvent*) {
  // As the standard pop-up, with the shown title against the right edge.
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  option.textAlignment = Qt::AlignRight | Qt::AlignVCenter;
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

QString GesturePopUp::title(Settings::Gesture gesture, bool withNote) {
  QString text = QString::fromUtf8(gesture.title().data(), static_cast<qsizetype>(gesture.title().size()));
  if (!withNote) return text;
  if (const auto used = gesture.usedByMacOS()) text += QString::fromStdString(kInUse + used->what);
  return text;
}

void GesturePopUp::fill() {
  const QSignalBlocker quiet(this);
  clear();
  addItem("None", QString());
  insertSeparator(1);
  for (const auto gesture : Settings::Gesture::allCases()) {
    addItem(title(gesture, true), QString::fromUtf8(gesture.rawValue().data(), gesture.rawValue().size()));
    const int index = count() - 1;
    // A gesture macOS uses stays pickable, only greyed.
    if (gesture.usedByMacOS()) setItemData(index, ui::secondary(), Qt::ForegroundRole);
  }
  select();
}

void GesturePopUp::select() {
  const QString stored = QString::fromStdString(selection_.get());
  int match = -1;
  for (int i = 0; i < count(); ++i) {
    const QVariant data = itemData(i);
    if (data.typeId() == QMetaType::QString && data.toString() == stored) {
      match = i;
      break;
    }
  }
  if (currentIndex() != match) {
    const QSignalBlocker quiet(this);
    setCurrentIndex(match);
  }
  plain();
}

void GesturePopUp::plain() {
  if (open_) return;
  // Every gesture item reads bare while closed; the notes come back with the next opening.
  const QSignalBlocker quiet(this);
  for (int i = 0; i < count(); ++i) {
    const QVariant data = itemData(i);
    if (data.typeId() != QMetaType::QString) continue;
    if (const auto gesture = Settings::Gesture::fromRaw(data.toString().toStdString())) {
      if (itemText(i) != title(*gesture, false)) setItemText(i, title(*gesture, false));
      setItemData(i, QVariant(), kNoteStartRole);
    }
  }
}

void GesturePopUp::choose(int index) {
  if (index != currentIndex()) {
    const QSignalBlocker quiet(this);
    setCurrentIndex(index);
  }
  const QVariant data = itemData(currentIndex());
  selection_.set(data.typeId() == QMetaType::QString ? data.toString().toStdString() : std::string());
  plain();
}

void GesturePopUp::menuWillOpen() {
  fill();  // macOS settings may have changed since the last opening
  open_ = true;
  const QSignalBlocker quiet(this);
  for (int i = 0; i < count(); ++i) {
    const QVariant data = itemData(i);
    if (data.typeId() != QMetaType::QString) continue;
    if (const auto gesture = Settings::Gesture::fromRaw(data.toString().toStdString())) {
      setItemText(i, title(*gesture, true));
      const QString bare = title(*gesture, false);
      setItemData(i, itemText(i).size() > bare.size() ? QVariant(static_cast<int>(bare.size())) : QVariant(),
                  kNoteStartRole);
    }
  }
}

void GesturePopUp::menuDidClose() {
  open_ = false;
  plain();
}

void GesturePopUp::showPopup() {
  menuWillOpen();
  QComboBox::showPopup();
}

void GesturePopUp::hidePopup() {
  QComboBox::hidePopup();
  menuDidClose();
}

std::string GesturePopUp::text(int index) const { return itemText(index).toStdString(); }

std::optional<int> GesturePopUp::noteStart(int index) const {
  const QVariant start = itemData(index, kNoteStartRole);
  if (!start.isValid()) return std::nullopt;
  return start.toInt();
}

std::optional<std::string> GesturePopUp::value(int index) const {
  const QVariant data = itemData(index);
  if (data.typeId() != QMetaType::QString) return std::nullopt;
  return data.toString().toStdString();
}

int GesturePopUp::fit() {
  static const int width = [] {
    QComboBox probe;
    probe.setFont(ui::systemFont(kFontSize));
    for (const auto gesture : Settings::Gesture::allCases()) probe.addItem(title(gesture, false));
    probe.setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return probe.sizeHint().width();
  }();
  return width;
}

QSize GesturePopUp::sizeHint() const { return QSize(fit(), QComboBox::sizeHint().height()); }

// ---- GestureInUse ------------------------------------------------------------------------

namespace {

class WarningIcon : public QWidget {
 public:
  using QWidget::QWidget;
  QSize sizeHint() const override { return QSize(14, 14); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(7, 1);
    triangle.lineTo(13, 13);
    triangle.lineTo(1, 13);
    triangle.closeSubpath();
    painter.fillPath(triangle, QColor(255, 204, 0));
    painter.setPen(QPen(Qt::black, 1.5));
    painter.drawLine(QPointF(7, 5), QPointF(7, 9));
    painter.drawPoint(QPointF(7, 11));
  }
};

}  // namespace

GestureInUse::GestureInUse(Settings::Gesture gesture, QWidget* parent) : QWidget(parent), gesture_(gesture) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(new WarningIcon(this));
  label_ = new QLabel(this);
  label_->setWordWrap(true);
  label_->setFont(ui::systemFont(12));
  ui::setTextColor(label_, ui::secondary());
  row->addWidget(label_, 1);
  button_ = new QPushButton("Open Settings…", this);
  row->addWidget(button_);
  connect(button_, &QPushButton::clicked, this, [this] {
    if (use_) NSWorkspace::shared().open(use_->link);
  });
  refresh();
}

void GestureInUse::refresh() {
  use_ = gesture_.usedByMacOS();
  label_->setText(QString::fromStdString(text()));
  setHidden(!use_);
}

std::string GestureInUse::text() const {
  if (!use_) return {};
  return "macOS uses this gesture for " + use_->what + ". You can turn it off in " + use_->settings;
}

}  // namespace trelliq
