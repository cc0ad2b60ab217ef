// Platform layer, shared code: what each backend supplies to common/ for window
// texts. The project's texts are UTF-8; a window holds text in the system's
// window character type TCHAR (UTF-8 bytes on the host, UTF-16 on Windows).
// Only backend-neutral declarations here; each backend defines the two
// conversions in its window_text.cpp.
#pragma once

#include "platform/wintypes.h"

#include <string>

namespace tvplatform {

using WindowString = std::basic_string<TCHAR>;

// UTF-8 text as the system's windows take it. A malformed sequence becomes the
// replacement character, never a lost or truncated text.
WindowString ToWindowText(const char* utf8);
// A window's text as UTF-8.
std::string FromWindowText(const TCHAR* text);

} // namespace tvplatform
