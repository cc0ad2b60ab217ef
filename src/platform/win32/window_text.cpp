// Win32 backend: window texts. The project's UTF-8 texts become UTF-16 for the
// wide-character window functions, so Korean texts show right whatever the
// system's ANSI code page is.
#include "platform/common/window_text.h"

namespace tvplatform {

// NOTE: without MB_ERR_INVALID_CHARS a malformed sequence becomes U+FFFD
// instead of failing the whole conversion.
WindowString ToWindowText(const char* utf8) {
    if (!utf8 || !*utf8)
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (n <= 0)
        return {};
    WindowString out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string FromWindowText(const TCHAR* text) {
    if (!text || !*text)
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

} // namespace tvplatform
