#include "switcher/views/NameLineEdit.h"

#include <QKeyEvent>

namespace trelliq::views {

namespace {
// Virtual key codes of the keys the field treats specially.
constexpr std::uint16_t kReturn = 36, kEnter = 76, kEscape = 53, kDelete = 51, kForwardDelete = 117, kLeft = 123,
                        kRight = 124;
}  // namespace

NameLineEdit::NameLineEdit(QWidget* parent) : QLineEdit(parent) {
  setFrame(false);
  setAlignment(Qt::AlignCenter);
  setAttribute(Qt::WA_MacShowFocusRect, false);
  // Transparent: the pill behind it is painted with the scene.
  setStyleSheet("QLineEdit { background: transparent; color: white; border: none; padding: 0; }");
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!showing_ && listener_.edited) listener_.edited(text.toStdString());
  });
  connect(this, &QLineEdit::returnPressed, this, [this] {
    if (listener_.submit) listener_.submit();
  });
}

void NameLineEdit::showText(const std::string& text) {
  const QString next = QString::fromStdString(text);
  if (next == this->text()) return;
  showing_ = true;
  setText(next);
  showing_ = false;
}

bool NameLineEdit::respondsToAction(const SEL& action) const {
  return action == "cut:" || action == "copy:" || action == "paste:" || action == "selectAll:";
}

void NameLineEdit::performAction(const SEL& action, NSResponder*) {
  if (action == "cut:") cut();
  if (action == "copy:") copy();
  if (action == "paste:") paste();
  if (action == "selectAll:") selectAll();
}

void NameLineEdit::keyDown(const NSEvent& event) {
  switch (event.keyCode()) {
    case kReturn:
    case kEnter:
      if (listener_.submit) listener_.submit();
      return;
    case kEscape:
      if (listener_.escape) listener_.escape();
      return;
    case kDelete:
      backspace();
      return;
    case kForwardDelete:
      del();
      return;
    case kLeft:
      // A selection collapses to its start (→ to its end) rather than moving a character.
      if (hasSelectedText()) setCursorPosition(selectionStart());
      else cursorBackward(false);
      return;
    case kRight:
      if (hasSelectedText()) setCursorPosition(selectionEnd());
      else cursorForward(false);
      return;
    default:
      break;
  }
  const NSEventModifierFlags held = event.modifierFlags() & (NSEventModifierFlagCommand | NSEventModifierFlagControl);
  if (held || event.characters().empty()) return NSResponder::keyDown(event);
  // Control characters (tab, other function keys) are not text.
  if (static_cast<unsigned char>(event.characters().front()) < 0x20) return;
  insert(QString::fromStdString(event.characters()));
}

void NameLineEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    if (listener_.escape) listener_.escape();
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace trelliq::views
