// The robot's standard streams: UTF-8 lines ending in a bare line feed,
// whatever the code page (a script compares them byte for byte), a line of
// stdin read on its own thread, and console control events as requests to
// close.
#include "robot.h"

namespace robot {

namespace {

HANDLE g_closeRequests = nullptr;

// Under Wine, SIGINT sent to the robot's process arrives here as
// CTRL_C_EVENT (SIGTERM does not: Wine ends the process at once).
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        SetEvent(g_closeRequests);
        return TRUE;
    }
    return FALSE;
}

void WriteTo(DWORD which, const std::string& utf8) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0;
    if (GetConsoleMode(h, &mode)) {
        // A console shows UTF-16 right under any output code page.
        const int n =
            MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
        DWORD written = 0;
        WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const char* p = utf8.data();
    size_t left = utf8.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(h, p, static_cast<DWORD>(left), &written, nullptr) || written == 0)
            return; // the reader has gone; nothing is lost that anyone could see
        p += written;
        left -= written;
    }
}

} // namespace

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

void WriteOut(const std::string& utf8) {
    WriteTo(STD_OUTPUT_HANDLE, utf8);
}

void WriteErr(const std::string& utf8) {
    WriteTo(STD_ERROR_HANDLE, utf8);
}

void Fail(const std::string& utf8) {
    WriteErr("torvane-robot: error: " + utf8 + "\n");
}

bool StdinIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

HANDLE CloseRequests() {
    if (g_closeRequests == nullptr) {
        g_closeRequests = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    }
    return g_closeRequests;
}

LineReader::LineReader() : m_done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

LineReader::~LineReader() {
    // A read still blocked on stdin cannot be taken back; the process ends
    // with it.
    if (m_thread != nullptr)
        CloseHandle(m_thread);
    CloseHandle(m_done);
}

void LineReader::Start() {
    if (m_thread == nullptr)
        m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    if (m_thread == nullptr)
        SetEvent(m_done); // as the end of input: the list is cancelled
}

DWORD WINAPI LineReader::Run(void* self) {
    auto* r = static_cast<LineReader*>(self);
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    for (;;) {
        char c = 0;
        DWORD n = 0;
        if (in == nullptr || !ReadFile(in, &c, 1, &n, nullptr) || n == 0) {
            r->m_answered = !r->m_line.empty();
            break;
        }
        if (c == '\n') {
            r->m_answered = true;
            break;
        }
        if (c != '\r')
            r->m_line += c;
    }
    SetEvent(r->m_done);
    return 0;
}

} // namespace robot
