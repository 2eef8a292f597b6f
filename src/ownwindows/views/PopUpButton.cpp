#include "ownwindows/views/PopUpButton.h"

#include <QPointer>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <algorithm>

#include "platform/Clock.h"

namespace trelliq {

PopUpButton::PopUpButton(QWidget* parent) : QComboBox(parent) { menu_->setDelegate(&closing_); }

PopUpButton::~PopUpButton() {
  menu_->setDelegate(nullptr);
  if (!menu_->isTracking()) return;
  menu_->cancelTracking();
  // The menu's window goes once the event that closed it is handled; its menu must last as long.
  platform::mainQueue().async([menu = menu_] {});
}

void PopUpButton::showPopup() {
  if (count() == 0) return;
  fillMenu();
  menu_->setMinimumWidth(width());
  const auto positioned = menu_->itemAtIndex(std::max(currentIndex(), 0));
  // The chosen entry's title where the button shows it.
  QStyleOptionComboBox option;
  initStyleOption(&option);
  const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
  menu_->popUpMenuPositioningItem(*positioned, CGPoint{static_cast<double>(field.left()), height() / 2.0}, *this);
}

void PopUpButton::hidePopup() { menu_->cancelTracking(); }

void PopUpButton::fillMenu() {
  while (menu_->numberOfItems() > 0) menu_->removeItemAtIndex(0);
  const QPointer<PopUpButton> self(this);
  for (int i = 0; i < count(); ++i) {
    if (itemData(i, Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator")) {
      menu_->addItem(NSMenuItem::separatorItem());
      continue;
    }
    const std::string title = itemText(i).toStdString();
    auto entry = std::make_shared<NSMenuItem>(title, "selectItem:", "");
    entry->setTarget([self, i] {
      if (self) self->pick(i);
    });
    entry->setEnabled(model()->flags(model()->index(i, modelColumn(), rootModelIndex())) & Qt::ItemIsEnabled);
    entry->setState(i == currentIndex() ? NSControlStateValue::on : NSControlStateValue::off);
    const bool secondary = itemData(i, kSecondaryRole).toBool();
    const QVariant italicFrom = itemData(i, kItalicFromRole);
    if (secondary || italicFrom.isValid()) {
      const QString text = itemText(i);
      const qsizetype at = italicFrom.isValid() ? std::clamp<qsizetype>(italicFrom.toInt(), 0, text.size()) : text.size();
      std::vector<NSTitleRun> runs{{text.left(at).toStdString(), false, secondary}};
      if (at < text.size()) runs.push_back({text.mid(at).toStdString(), true, secondary});
      entry->setAttributedTitle(std::move(runs));
    }
    menu_->addItem(std::move(entry));
  }
}

void PopUpButton::pick(int index) {
  setCurrentIndex(index);
  emit activated(index);
  emit textActivated(itemText(index));
}

}  // namespace trelliq
