// The core's texts are UTF-8 std::strings (they are shared with the
// command-line tool and the tests); this turns one into the QString a
// widget or a signal wants.
//
// A pure function, callable from any thread.
#pragma once

#include <string>

#include <QString>

// Up to the first NUL, as the C strings the texts come from end there.
inline QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.c_str()); }
