// The program's help: one HTML page installed beside the program, opened in
// the desktop's browser, or in a window of our own when there is no desktop
// session or the desktop cannot open it.
//
// Ownership and threads: the fallback window is a child window of the widget
// given to Open() (deleted with it, or when closed); a second Open() raises
// the same window. GUI thread only.
#pragma once

#include <QString>

class QWidget;

namespace helpviewer {

// The help page: <program dir>/help/index.html (the build tree), else
// <program dir>/../share/quorvex/help/index.html (an installation); empty
// when neither exists.
QString PagePath();

void Open(QWidget* parent);

}  // namespace helpviewer
