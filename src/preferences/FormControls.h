#pragma once
// Controls the Preferences form's sections build alike: a pop-up of named choices that
// writes its stored string when the user picks one, showing a value without writing it
// back, and the informational notes under rows. Main thread only.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QWidget>
#include <initializer_list>
#include <string>

#include "preferences/StoredOption.h"

namespace trelliq::form {

/// One choice of a pop-up: its title and the string stored for it.
struct Option {
  const char* title;
  const char* tag;
};

/// A pop-up button of `options` (its menu the simulated Mac's) that writes the picked tag
/// to `stored`; only the user's picks write, never a value shown with `showChoice`.
QComboBox* choicePicker(std::initializer_list<Option> options, const StoredString& stored, QWidget* parent);
/// Selects the option whose tag is `value`; none when no option has it. Emits nothing.
void showChoice(QComboBox& picker, const std::string& value);
/// Checks or clears the toggle without emitting anything.
void showToggle(QCheckBox& toggle, bool on);

/// A note under a row: the info symbol beside wrapped text in the callout size and the
/// secondary colour. Empty until `setNote`.
QWidget* note(QWidget* parent);
void setNote(QWidget& note, const std::string& text);
/// The note's text label.
QLabel& noteText(const QWidget& note);

}  // namespace trelliq::form
