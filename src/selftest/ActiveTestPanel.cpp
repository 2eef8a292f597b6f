#include "selftest/ActiveTestPanel.h"

namespace trelliq {

bool ActiveTestPanel::_hasActiveAppearance() const { return true; }
bool ActiveTestPanel::_hasActiveAppearanceIgnoringKeyFocus() const { return true; }
bool ActiveTestPanel::_hasKeyAppearance() const { return true; }

}  // namespace trelliq
