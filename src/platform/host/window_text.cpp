// Host backend: window texts. The host's windows hold UTF-8 themselves (TCHAR
// is char), so texts pass unchanged.
#include "platform/common/window_text.h"

namespace tvplatform {

WindowString ToWindowText(const char* utf8) {
    return utf8 ? utf8 : "";
}

std::string FromWindowText(const TCHAR* text) {
    return text ? text : "";
}

} // namespace tvplatform
