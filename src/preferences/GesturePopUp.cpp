#include "preferences/GesturePopUp.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include "platform/AppKitWorkspace.h"
#include "ui/Paint.h"

namespace trelliq {

namespace {

constexpr const char* kInUse = "   in use: ";

}  // namespace

GesturePopUp::GesturePopUp(StoredString selection, QWidget* parent)
    : PopUpButton(parent), selection_(std::move(selection)) {
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  connect(this, &QComboBox::activated, this, [this](int index) { choose(index); });
  fill();
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
    if (gesture.usedByMacOS()) setItemData(index, true, kSecondaryRole);
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
      setItemData(i, QVariant(), kItalicFromRole);
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
                  kItalicFromRole);
    }
  }
}

void GesturePopUp::menuDidClose() {
  open_ = false;
  plain();
}

void GesturePopUp::showPopup() {
  menuWillOpen();
  PopUpButton::showPopup();
}

std::string GesturePopUp::text(int index) const { return itemText(index).toStdString(); }

std::optional<int> GesturePopUp::noteStart(int index) const {
  const QVariant start = itemData(index, kItalicFromRole);
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
