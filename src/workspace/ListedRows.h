#pragma once
// The rows (entries::Row) of a window list, kept from one list to the next. The window list
// hands out the same shared dictionary for a window for as long as its entry stays the
// same, so a dictionary met before is not read again: its row is found by the dictionary's
// address, the dictionary held meanwhile so that the address cannot be reused. Walking a
// dictionary costs a cache miss per entry, and every ⌘⇥ lists every window. Any thread.

#include <vector>

#include "platform/PlistValue.h"
#include "workspace/WindowEntries.h"

namespace trelliq::ListedRows {

/// The row of each dictionary of `list`, in order, bounds checked against `minimum`;
/// items that are not dictionaries are left out. A row's name points into `list`. With
/// `whole` (a list of every window), rows of dictionaries no longer listed are forgotten
/// once they outnumber the listed ones.
std::vector<entries::Row> of(const platform::PlistArray& list, double minimum, bool whole);

}  // namespace trelliq::ListedRows
