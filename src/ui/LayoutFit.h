#pragma once
// Measuring a widget tree whose rows hold wrapped text. Layouts keep the measures they took
// before rows were added or their texts changed until the next event pass, rows added to a
// shown window show only at that pass, and a plain size hint guesses a width for wrapped
// labels; each leaves such a tree too short. Main thread only.

class QWidget;

namespace trelliq::ui {

/// Shows the rows a shown `root` has not shown yet, drops every cached layout measure under
/// it, then answers the height its layout needs at `width`: enough for every wrapped line,
/// never below the layout's minimum. Answers the size hint's height when `root` has no
/// layout. Changes no geometry.
int fittedHeight(QWidget& root, int width);

}  // namespace trelliq::ui
