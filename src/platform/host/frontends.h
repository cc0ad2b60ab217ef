// Host backend: the front ends the start-up code chooses from.
#pragma once

#include "platform/host/frontend.h"

#include <memory>

namespace tvhost {

// Non-interactive: message boxes to stderr, throttled progress lines to stdout,
// SIGINT/SIGTERM as the close box, a list dialog answered by one stdin line.
std::unique_ptr<FrontEnd> MakeLineFrontEnd();
// Full-screen ncurses interface.
std::unique_ptr<FrontEnd> MakeTerminalFrontEnd();
// The terminal front end when stdin and stdout are terminals, else the line one.
std::unique_ptr<FrontEnd> ChooseFrontEnd();

// The one-line rendering of a dialog the line front end prints: its text rows
// (statics grouped by their vertical position), or a shown child panel's,
// then the status its caption carries after the template's title
// (" - 34 % - 3.2 MB/s - 0:42 left").
std::string DialogLine(HWND hDlg);

} // namespace tvhost
