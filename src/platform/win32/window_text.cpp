// Win32 backend: window texts. The project's UTF-8 texts become UTF-16 for the
// wide-character window functions, so Korean texts show right whatever the
// system's ANSI code page is.
#include "platform/common/window_text.h"

namespace tvplatform {

namespace {

// The whole text in one code page; false when flags refuse it.
bool Convert(UINT codePage, DWORD flags, const char* text, WindowString& out) {
    const int n = MultiByteToWideChar(codePage, flags, text, -1, nullptr, 0);
    if (n <= 0)
        return false;
    out.assign(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, text, -1, out.data(), n);
    out.resize(static_cast<size_t>(n - 1));
    return true;
}

} // namespace

// NOTE: a text that is not valid UTF-8 comes from an ANSI file or the wire
// (a server name in Server.cnv, a received file name written on a Korean
// Windows) and is read in the system's ANSI code page, as the ...A functions
// read it, instead of showing replacement characters. Valid UTF-8 is taken
// as UTF-8; the two overlap only for a few short runs of Hangul in code
// page 949 that also form valid UTF-8.
WindowString ToWindowText(const char* utf8) {
    if (!utf8 || !*utf8)
        return {};
    WindowString out;
    if (Convert(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, out) || Convert(CP_ACP, 0, utf8, out))
        return out;
    return {};
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
