// The stand-in for the game on Windows: writes where it was started and what
// it was given to launched.txt (the working directory, then one "<arg>" line
// per argument, UTF-8), through a temporary file renamed into place, so a
// reader never sees half of it.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, dir);
    std::string text = Utf8(dir) + "\n";
    for (int i = 1; i < argc; ++i)
        text += "<" + Utf8(argv[i]) + ">\n";
    HANDLE h = CreateFileW(L"launched.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    const BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
    if (!ok || written != text.size())
        return 1;
    return MoveFileExW(L"launched.tmp", L"launched.txt", MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
