#pragma once
// Renaming a desktop in place while a session shows: a click on a name label makes it
// the field of its panel, which takes keys while the tap stops treating them as switcher
// keys; submitting saves the name, escaping or clicking away ends the edit. Main thread.

#include <functional>
#include <optional>
#include <string>

#include "switcher/LifeToken.h"
#include "switcher/model/SwitcherModel.h"

namespace trelliq {

class DisplayPanels;
class EventTap;
class OpenGate;
class Session;

class Renaming {
 public:
  /// The parts a rename reads and marks; `cancel` closes the session without switching.
  struct Parts {
    SwitcherModel& model;
    DisplayPanels& panels;
    OpenGate& gate;
    const EventTap& tap;
    const Session& session;
    std::function<void()> cancel;
  };

  explicit Renaming(Parts parts);
  Renaming(const Renaming&) = delete;
  Renaming& operator=(const Renaming&) = delete;

  /// A click on a name label while shown: the panel takes keys, the label becomes the
  /// field; the tap stops treating keys as switcher keys. Remembers the display.
  void startRenaming(const std::string& id, int display);
  /// Saves (trimmed; the usual text clears) when `save`; ends editing. Not dismissing: the
  /// session goes on (stays-open when the holding modifier is up). Dismissing: shows the
  /// name, then cancels 1.0 s later unless superseded.
  void finishRenaming(bool save, bool dismissing);
  /// The reset button: removes the tile's stored name at once.
  void resetName(const std::string& id);
  /// The session ended: no name is edited, hovered or just saved, and no panel takes keys.
  void sessionEnded();

 private:
  Parts parts_;
  /// The display whose name is being edited (remembered when the edit starts).
  std::optional<int> renamingDisplay;
  /// Work handed to the main queue holds this weakly: it stops once the renaming is gone.
  LifeToken life_;
};

}  // namespace trelliq
