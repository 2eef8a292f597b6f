#include "preferences/FormControls.h"

#include <QHBoxLayout>
#include <QSignalBlocker>

#include "app/views/Symbol.h"
#include "ownwindows/views/PopUpButton.h"
#include "ui/Paint.h"

namespace trelliq::form {

QComboBox* choicePicker(std::initializer_list<Option> options, const StoredString& stored, QWidget* parent) {
  auto* picker = new PopUpButton(parent);
  for (const Option& o : options) picker->addItem(o.title, QString(o.tag));
  // `activated` comes from the user only, so showing a value never writes it back.
  QObject::connect(picker, &QComboBox::activated, picker, [picker, stored](int index) {
    if (index >= 0) stored.set(picker->itemData(index).toString().toStdString());
  });
  return picker;
}

void showChoice(QComboBox& picker, const std::string& value) {
  const QSignalBlocker quiet(&picker);
  picker.setCurrentIndex(picker.findData(QString::fromStdString(value)));
}

void showToggle(QCheckBox& toggle, bool on) {
  const QSignalBlocker quiet(&toggle);
  toggle.setChecked(on);
}

QWidget* note(QWidget* parent) {
  auto* widget = new QWidget(parent);
  widget->setObjectName("note");
  auto* row = new QHBoxLayout(widget);
  row->setContentsMargins(10, 4, 10, 4);
  row->setSpacing(5);
  // Drawn like the other symbols: the fonts may lack the character.
  row->addWidget(new SymbolView("info.circle", ui::secondary(), 12, 14, widget), 0, Qt::AlignTop);
  auto* label = new QLabel(widget);
  label->setObjectName("text");
  label->setWordWrap(true);
  label->setFont(ui::systemFont(12));
  ui::setTextColor(label, ui::secondary());
  row->addWidget(label, 1);
  return widget;
}

QLabel& noteText(const QWidget& note) { return *note.findChild<QLabel*>("text"); }

void setNote(QWidget& note, const std::string& text) { noteText(note).setText(QString::fromStdString(text)); }

}  // namespace trelliq::form
