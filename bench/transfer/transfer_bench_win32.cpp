// transfer-bench.exe: the Windows variant, run under Wine. Streams one large
// exchange (default 50 MB in one file) over loopback through
// torvane-update.exe and through a bare Windows Sockets loop (WSAAsyncSelect,
// one receive of at most 2048 bytes per notification, fwrite), alternately,
// and prints the throughput of each, the client/bare ratio and the peak
// working sets. Best of several rounds, all in this one run.
//
// NOTE: Wine's socket notifications cost a round trip through the Wine server
// each, far more than on Windows, so only the ratio within one run means
// anything. The transfer is timed from the server's receipt of the version
// request to the last body byte on disk: by then both have their message loop
// running. The client connects from its window's start-up, before the window
// is shown, so the time from the accept (also printed) includes building and
// showing the window under Wine.
#include "platform/wintypes.h"
#include "protocol/wire.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// The file is sent as "File.ver", which the client stores as null.dat.gz and
// never decompresses, so only the transfer is measured.
const char kName[] = "File.ver";
const wchar_t kStored[] = L"null.dat.gz";
const UINT kNotify = WM_APP + 1;

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

bool SendAll(SOCKET s, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const int r = send(s, p, static_cast<int>(std::min<size_t>(n, 1 << 20)), 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool RecvAll(SOCKET s, void* data, size_t n) {
    char* p = static_cast<char*>(data);
    while (n > 0) {
        const int r = recv(s, p, static_cast<int>(n), 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// Serves one exchange of `size` body bytes to the next connection on its own
// thread, and notes when it accepted it.
class Sender {
  public:
    explicit Sender(int32_t size) : m_size(size) {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(m_listen, 4);
        int len = sizeof a;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~Sender() { closesocket(m_listen); }
    unsigned Port() const { return m_port; }
    double AcceptedAt() const { return m_accepted; }
    double RequestedAt() const { return m_requested; }

    std::thread ServeOne() {
        return std::thread([this] {
            SOCKET c = accept(m_listen, nullptr, nullptr);
            m_accepted = Now();
            if (c == INVALID_SOCKET)
                return;
            Exchange(c);
            shutdown(c, SD_SEND);
            char sink[64];
            while (recv(c, sink, sizeof sink, 0) > 0) {
            }
            closesocket(c);
        });
    }

  private:
    void Exchange(SOCKET c) {
        wire::VersionReply reply;
        reply.version[0] = 1;
        unsigned char head[wire::kMaxFileHeaderSize];
        wire::Encode(reply, head);
        if (!SendAll(c, head, wire::kVersionReplySize) ||
            !RecvAll(c, head, wire::kVersionRequestSize))
            return;
        m_requested = Now();
        wire::ListHeader list;
        list.groupFiles[0] = 1;
        list.totalSize = m_size;
        wire::Encode(list, head);
        const int n = wire::EncodeFileHeader(1, m_size, kName, head + wire::kListHeaderSize);
        if (!SendAll(c, head, wire::kListHeaderSize + static_cast<size_t>(n)))
            return;
        std::vector<char> block(1 << 16);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 131 + (i >> 9));
        for (int64_t left = m_size; left > 0;) {
            const size_t k = static_cast<size_t>(std::min<int64_t>(left, 1 << 16));
            if (!SendAll(c, block.data(), k))
                return;
            left -= static_cast<int64_t>(k);
        }
    }

    SOCKET m_listen = INVALID_SOCKET;
    unsigned m_port = 0;
    int32_t m_size;
    double m_accepted = 0;
    double m_requested = 0;
};

struct Result {
    double seconds = 0;           // from the version request
    double secondsFromAccept = 0; // window start-up included
    SIZE_T peakWorkingSet = 0;
    bool ok = false;
};

// The bare loop: the protocol's first steps blocking, then every body byte
// through WSAAsyncSelect notifications, one recv of at most 2048 bytes each,
// written with fwrite.
struct BareLoop {
    SOCKET s = INVALID_SOCKET;
    FILE* out = nullptr;
    int64_t want = 0, got = 0;
    bool done = false;

    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m != kNotify)
            return DefWindowProcW(h, m, w, l);
        auto* self = reinterpret_cast<BareLoop*>(GetWindowLongPtrW(h, GWLP_USERDATA));
        char buf[2048];
        const int n = recv(self->s, buf, sizeof buf, 0);
        if (n > 0) {
            std::fwrite(buf, 1, static_cast<size_t>(n), self->out);
            self->got += n;
        }
        if (self->got >= self->want || WSAGETSELECTEVENT(l) == FD_CLOSE ||
            (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK))
            self->done = true;
        return 0;
    }
};

// The bare loop's process (this program with --bare): connects, speaks the
// protocol's first steps, then receives the rest into path.
int BareChild(unsigned port, int32_t size, const wchar_t* path) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = BareLoop::Proc;
    wc.lpszClassName = L"TransferBenchBare";
    RegisterClassW(&wc);
    HWND wnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               nullptr, nullptr);
    BareLoop loop;
    SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&loop));
    loop.s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    loop.out = _wfopen(path, L"wb");
    unsigned char head[wire::kVersionReplySize + wire::kListHeaderSize + 32];
    if (!loop.out || connect(loop.s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        !RecvAll(loop.s, head, wire::kVersionReplySize))
        return 1;
    unsigned char req[wire::kVersionRequestSize] = {1};
    SendAll(loop.s, req, sizeof req);
    // The list header and the file header, then only the body goes to disk,
    // as the client stores it.
    const int headers = wire::kListHeaderSize + wire::FileHeaderSize(sizeof kName - 1);
    if (!RecvAll(loop.s, head, static_cast<size_t>(headers)))
        return 1;
    loop.want = size;
    WSAAsyncSelect(loop.s, wnd, kNotify, FD_READ | FD_CLOSE);
    MSG msg;
    while (!loop.done && GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    std::fclose(loop.out);
    closesocket(loop.s);
    if (loop.got != loop.want)
        return 1;
    Sleep(INFINITE); // until the parent has read the working set and ends it
    return 0;
}

// Starts cmd in dir and waits until file has size bytes; then reads the
// process's peak working set and ends it.
Result RunUntilStored(Sender& sender, std::wstring cmd, const std::wstring& dir,
                      const std::wstring& file, int32_t size) {
    std::thread server = sender.ServeOne();
    Result r;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si,
                        &pi)) {
        std::fprintf(stderr, "transfer-bench: cannot start %ls\n", cmd.c_str());
        server.detach();
        return r;
    }
    const double deadline = Now() + 600;
    while (Now() < deadline) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) &&
            data.nFileSizeLow == static_cast<DWORD>(size) && data.nFileSizeHigh == 0) {
            r.ok = true;
            break;
        }
        if (WaitForSingleObject(pi.hProcess, 2) == WAIT_OBJECT_0)
            break;
    }
    r.seconds = Now() - sender.RequestedAt();
    r.secondsFromAccept = Now() - sender.AcceptedAt();
    Sleep(200); // the client's install step and server list come after the body
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc))
        r.peakWorkingSet = pmc.PeakWorkingSetSize;
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    server.join();
    DeleteFileW(file.c_str());
    return r;
}

std::wstring Self() {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    return std::wstring(self, n);
}

Result RunBare(Sender& sender, int32_t size, const std::wstring& dir) {
    const std::wstring out = dir + L"\\bare.out";
    const std::wstring cmd = L"\"" + Self() + L"\" --bare " + std::to_wstring(sender.Port()) +
                             L" " + std::to_wstring(size) + L" \"" + out + L"\"";
    return RunUntilStored(sender, cmd, dir, out, size);
}

// The client in a fresh working directory.
Result RunClient(Sender& sender, int32_t size, const std::wstring& exe, const std::wstring& dir) {
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::string ini =
        "[Update]\r\nIP=127.0.0.1\r\nPort=" + std::to_string(sender.Port()) + "\r\n";
    FILE* f = _wfopen((dir + L"\\Config.ini").c_str(), L"wb");
    std::fwrite(ini.data(), 1, ini.size(), f);
    std::fclose(f);
    const Result r = RunUntilStored(sender, L"\"" + exe + L"\"", dir, dir + L"\\" + kStored, size);
    for (const wchar_t* name : {L"Config.ini", L"File.ver", L"Server.cnv"})
        DeleteFileW((dir + L"\\" + name).c_str());
    RemoveDirectoryW(dir.c_str());
    return r;
}

std::wstring Beside(const wchar_t* relative) {
    std::wstring dir = Self();
    dir.erase(dir.find_last_of(L"\\/"));
    return dir + L"\\" + relative;
}

} // namespace

int main(int argc, char** argv) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    if (argc == 5 && std::string(argv[1]) == "--bare") {
        const std::wstring path(argv[4], argv[4] + std::strlen(argv[4]));
        return BareChild(static_cast<unsigned>(std::atoi(argv[2])), std::atoi(argv[3]),
                         path.c_str());
    }
    const int mb = argc > 1 ? std::atoi(argv[1]) : 50;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (mb <= 0 || mb > 1000 || rounds <= 0) {
        std::fprintf(stderr, "usage: transfer-bench [MB (1-1000, default 50)] [rounds (3)]\n");
        return 2;
    }
    const int32_t size = mb * 1048576;
    const std::wstring exe = Beside(L"..\\..\\src\\torvane-update.exe");
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring dir =
        std::wstring(tmp) + L"tv-transfer-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    Sender sender(size);
    double bare = 1e9, client = 1e9, bareAll = 1e9, clientAll = 1e9;
    SIZE_T peak = 0, barePeak = 0;
    for (int i = 0; i < rounds; ++i) {
        const Result b = RunBare(sender, size, dir);
        const Result c = RunClient(sender, size, exe, dir + L"\\client");
        if (!b.ok || !c.ok) {
            std::fprintf(stderr, "transfer-bench: round %d failed (bare %s, client %s)\n", i + 1,
                         b.ok ? "ok" : "failed", c.ok ? "ok" : "failed");
            return 1;
        }
        bare = std::min(bare, b.seconds);
        client = std::min(client, c.seconds);
        bareAll = std::min(bareAll, b.secondsFromAccept);
        clientAll = std::min(clientAll, c.secondsFromAccept);
        peak = std::max(peak, c.peakWorkingSet);
        barePeak = std::max(barePeak, b.peakWorkingSet);
        std::printf("round %d: bare %.2f s, client %.2f s (from the accept: %.2f s, %.2f s)\n",
                    i + 1, b.seconds, c.seconds, b.secondsFromAccept, c.secondsFromAccept);
    }
    RemoveDirectoryW(dir.c_str());
    const double mbs = static_cast<double>(mb);
    std::printf("transfer of %d MB over loopback under Wine, best of %d:\n", mb, rounds);
    std::printf("  bare WSAAsyncSelect loop  %7.1f MB/s\n", mbs / bare);
    std::printf("  torvane-update.exe        %7.1f MB/s  ratio %.2f (target >= 0.90)\n",
                mbs / client, bare / client);
    std::printf("  from the accept, window start-up included: ratio %.2f\n", bareAll / clientAll);
    std::printf("  client peak working set   %7.1f MB (target < 16)\n",
                static_cast<double>(peak) / 1048576.0);
    // What Wine itself takes for a process with one (hidden) window.
    std::printf("  bare loop peak working set%7.1f MB\n",
                static_cast<double>(barePeak) / 1048576.0);
    return 0;
}
