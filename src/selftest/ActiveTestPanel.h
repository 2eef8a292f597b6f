#pragma once
// A panel that draws with the active and key appearance whatever its key state, for the
// self-test modes that check how the program's windows look. It becomes key only as any
// panel would. Main thread only.

#include "platform/AppKitWindows.h"

namespace trelliq {

class ActiveTestPanel : public NSPanel {
 public:
  using NSPanel::NSPanel;

  /// Always true.
  bool _hasActiveAppearance() const override;
  bool _hasActiveAppearanceIgnoringKeyFocus() const override;
  bool _hasKeyAppearance() const override;
};

}  // namespace trelliq
