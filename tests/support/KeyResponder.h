#pragma once
// A text field that records what a window's key handling hands it, and ⌘-key downs made
// the way the keyboard makes them: shared by the tests of the program's window classes.

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/AppKitWindows.h"

namespace trelliq::test {

/// A text field: records the actions it takes (selectAll: selects its text) and the key
/// equivalents the standard handling offers it, consuming those in `consumes`.
class Field : public NSResponder {
 public:
  bool acceptsFirstResponder() const override { return true; }
  bool respondsToAction(const SEL& a) const override { return accepted.find(a) != std::string::npos; }
  void performAction(const SEL& action, NSResponder* sender) override {
    actions.push_back(action);
    senders.push_back(sender);
    if (action == "selectAll:") selected = text;
  }
  bool performKeyEquivalent(const NSEvent& e) override {
    offered += e.charactersIgnoringModifiers();
    return consumes.find(e.charactersIgnoringModifiers()) != std::string::npos;
  }
  std::string text = "Desktop 3", selected, offered, consumes;
  std::string accepted = "cut: copy: paste: selectAll:";
  std::vector<SEL> actions;
  std::vector<NSResponder*> senders;
};

inline NSEvent key(const std::string& k, NSEventModifierFlags extra = 0) {
  const std::string typed = extra & NSEventModifierFlagCapsLock ? std::string(1, std::toupper(k[0])) : k;
  return NSEvent::keyEvent(NSEventType::keyDown, NSEventModifierFlagCommand | extra, typed, k, false, 0);
}

/// Shows `window` as the key window with `field` as its first responder.
inline void focus(NSWindow& window, Field& field) {
  field.setNextResponder(&window);
  window.makeKeyAndOrderFront(nullptr);
  ASSERT_TRUE(window.makeFirstResponder(&field));
}

}  // namespace trelliq::test
