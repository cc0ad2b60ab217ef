// torvane-robot [--timeout SECONDS] [--hold SECONDS] [--timings FILE] CLIENT.EXE [ARGS...]
//
// Starts CLIENT.EXE in the current directory with ARGS and plays the player
// until it ends; the exit code is the client's. Output is that of the host
// client's line mode: message boxes as "CAPTION: ICON: TEXT" on stderr (then
// OK), the progress window's texts as throttled lines on stdout, "Server
// Select" as a numbered list answered by one line of stdin. What the client
// itself writes to stdout and stderr is passed on. A console Ctrl+C
// (SIGINT to the robot under Wine) presses the close box. --hold leaves each
// message box up that long after its line, for a person watching or a
// screenshot. --timings writes when the windows changed and how far apart
// the robot looked (benchmarks).
#include "robot.h"

#include <cwchar>

namespace {

constexpr DWORD kDefaultTimeoutS = 120;

const char kUsage[] =
    "usage: torvane-robot [--timeout SECONDS] [--hold SECONDS] [--timings FILE] CLIENT.EXE "
    "[ARGS...]\n";

// One argument as the C runtime's command-line parser reads it back:
// backslashes are literal except before a quote, where they are doubled.
std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

std::string SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring s = text ? text : L"";
    LocalFree(text);
    while (!s.empty() && (s.back() == L'\n' || s.back() == L'\r' || s.back() == L' '))
        s.pop_back();
    return robot::Utf8(s) + " (" + std::to_string(error) + ")";
}

// The client reads nothing of the robot's stdin: its answers are the
// robot's to give.
HANDLE NullInput() {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING,
                       0, nullptr);
}

// The client ends with the robot, however the robot ends (a test that
// kills it must not leave a window behind). What the client starts in turn,
// the game, is not the robot's and stays.
void TieToRobot(HANDLE process) {
    HANDLE job = CreateJobObjectW(nullptr, nullptr); // held until the robot ends
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    if (job == nullptr ||
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !AssignProcessToJobObject(job, process))
        robot::WriteErr("torvane-robot: warning: the client will outlive the robot if the robot "
                        "is killed\n");
}

bool Start(const std::wstring& exe, const std::wstring& commandLine, robot::Relay& relay,
           PROCESS_INFORMATION& pi) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = NullInput();
    if (!relay.Open(si.hStdOutput, si.hStdError))
        return false;
    std::wstring cmd = commandLine; // CreateProcessW may write to it
    // A group of its own: a console Ctrl+C meant for the robot must not end
    // the client too.
    const BOOL ok =
        CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE,
                       CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr, nullptr, &si, &pi);
    const DWORD error = GetLastError();
    for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError})
        if (h != nullptr && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    if (!ok) {
        SetLastError(error);
        return false;
    }
    TieToRobot(pi.hProcess);
    ResumeThread(pi.hThread);
    return true;
}

bool ParseSeconds(const wchar_t* text, unsigned long least, DWORD& ms) {
    wchar_t* end = nullptr;
    const unsigned long s = std::wcstoul(text, &end, 10);
    if (end == text || *end != L'\0' || text[0] == L'-' || s < least || s > 86400)
        return false;
    ms = static_cast<DWORD>(s * 1000);
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD timeoutMs = kDefaultTimeoutS * 1000;
    DWORD holdMs = 0;
    int first = 1;
    for (; first + 1 < argc; first += 2) {
        if (std::wcscmp(argv[first], L"--timeout") == 0) {
            if (!ParseSeconds(argv[first + 1], 1, timeoutMs)) {
                robot::Fail("--timeout needs a number of seconds from 1 to 86400");
                return robot::kRobotFailure;
            }
        } else if (std::wcscmp(argv[first], L"--hold") == 0) {
            if (!ParseSeconds(argv[first + 1], 0, holdMs)) {
                robot::Fail("--hold needs a number of seconds from 0 to 86400");
                return robot::kRobotFailure;
            }
        } else if (std::wcscmp(argv[first], L"--timings") == 0) {
            if (!robot::OpenTimings(argv[first + 1])) {
                robot::Fail("cannot write the timings to " + robot::Utf8(argv[first + 1]) + ": " +
                            SystemMessage(GetLastError()));
                return robot::kRobotFailure;
            }
        } else {
            break;
        }
    }
    if (first >= argc || argv[first][0] == L'-') {
        robot::WriteErr(kUsage);
        return robot::kRobotFailure;
    }
    std::wstring commandLine = Quote(argv[first]);
    for (int i = first + 1; i < argc; ++i)
        commandLine += L" " + Quote(argv[i]);
    robot::CloseRequests(); // before the client exists, so no request is lost
    robot::WarmUp();
    PROCESS_INFORMATION pi{};
    robot::Relay relay;
    robot::StartClock();
    if (!Start(argv[first], commandLine, relay, pi)) {
        robot::Fail("cannot start " + robot::Utf8(argv[first]) + ": " +
                    SystemMessage(GetLastError()));
        return robot::kRobotFailure;
    }
    CloseHandle(pi.hThread);
    const int code = robot::Follow(pi, relay, timeoutMs, holdMs);
    CloseHandle(pi.hProcess);
    robot::WriteTimings();
    return code;
}
