#include "ownwindows/ClosableWindow.h"

namespace trelliq {

const std::map<std::string, SEL>& ClosableWindow::editing() {
  static const std::map<std::string, SEL> table = {
      {"x", "cut:"},
      {"c", "copy:"},
      {"v", "paste:"},
      {"a", "selectAll:"},
  };
  return table;
}

bool ClosableWindow::commandAlone(const NSEvent& event) {
  return (event.modifierFlags() & NSEventModifierFlagDeviceIndependentFlagsMask) == NSEventModifierFlagCommand;
}

bool ClosableWindow::sendEditAction(const NSEvent& event, NSResponder* sender) {
  const auto& table = editing();
  const auto entry = table.find(event.charactersIgnoringModifiers());
  if (entry == table.end()) return false;
  return NSApp().sendAction(entry->second, nullptr, sender);
}

bool ClosableWindow::performKeyEquivalent(const NSEvent& event) {
  if (!commandAlone(event) || event.characters().empty()) return NSWindow::performKeyEquivalent(event);
  if (event.charactersIgnoringModifiers() == "w") {
    performClose(this);
    return true;
  }
  if (sendEditAction(event, this)) return true;
  return NSWindow::performKeyEquivalent(event);
}

}  // namespace trelliq
