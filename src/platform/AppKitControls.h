#pragma once
// The standard controls of the program's windows as the system draws them: a default
// button (the one Return triggers) filled with the accent colour under a white title, and
// a checkbox as a rounded square, filled with the accent colour under a white check when
// on, bordered and empty when off, in either appearance. Everything else is drawn as Qt
// draws it. Main thread.

#include <QColor>

namespace platform {

/// The system's accent colour, which chosen controls and lit menu rows are filled with.
QColor controlAccentColor();

/// Makes the application's style draw its controls so, from now on. Nothing without a
/// widget application, or when it does already.
void installControlStyle();

}  // namespace platform
