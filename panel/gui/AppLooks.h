// The program's looks applied to the whole application: the Fusion style
// with a palette and a style sheet per look (blue, black, silver, aqua and a
// light Windows 7 one), which also dress the ribbon, the status bar and the
// message bars; and the look kept in the program's settings.
//
// Ownership and threads: free functions without state of their own; they
// change the QApplication's style, palette and style sheet, and read or write
// the program's QSettings. GUI thread only.
#pragma once

class QApplication;

namespace applooks {

// The look to use for a stored look id. The five looks (215..219) stay as
// they are. Older ids map by family: 205..207 (the plain grey looks) to
// Silver, 208..210 (the blue-tinted ones) to Blue, and everything else,
// including 211..214 and hand-edited values, to Windows 7, the default.
int NearestLook(int stored);

// Restyles every widget of `app` in `look` (passed through NearestLook).
void Apply(QApplication& app, int look);

// The look in the settings ("Workspace/ApplicationLook", Windows 7 when
// absent or not a number), already passed through NearestLook.
int LoadProfileLook();
void SaveProfileLook(int look);

}  // namespace applooks
