// The receive harness shared by fuzz_receive and fuzz_receive_fast (see
// receive_harness.h): the stream's delivery through the syscall table, the
// independent reading of the stream and the invariants checked after a run.

#include "receive_harness.h"

#include "client_fuzz_support.h"

#include "app/settings.h"
#include "install/install_step.h"
#include "install/version_record.h"
#include "platform/host/syscalls.h"
#include "platform/host/window.h"
#include "protocol/wire.h"
#include "ui/resource.h"
#include "ui/update_dlg.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace {

const char kMsgConnectFailed[] = "서버 접속에 실패했습니다.\n잠시 후 재 실행 하세요.";
const char kMsgConnectionLost[] = "서버와의 연결이 해제 되었습니다.\n재 실행 하세요.";
const char kMsgVersionMismatch[] = "버전이 일치하지 안습니다.\n최신 버전으로 재 설치하세요.";
const char kMsgTooMany[] = "다운로드 받을 파일이 너무 많습니다. \n최신 버전으로 재 설치하세요.";
const char kMsgDamaged[] = "손상된 파일이 있습니다.\n재 설치 후 다시 시작하세요.";
const int kMaxRedirects = 8;
const size_t kMaxName = 256; // the longest name a file header may carry

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    __builtin_trap();
}

// ---- The stream and its delivery ----------------------------------------------

struct Delivery {
    const std::uint8_t* stream = nullptr;
    size_t size = 0;
    size_t cursor = 0;
    std::vector<size_t> pieces; // sizes, used in turn
    size_t piece = 0;           // index into pieces
    size_t pieceLeft = 0;       // bytes left of the current piece
    int connection = -1;        // connections made so far, minus one
    // Each receive's bytes: connection, offset and length in the stream.
    struct Chunk {
        int connection;
        size_t offset, length;
    };
    std::vector<Chunk> chunks;
    std::vector<int> peers;  // the other ends of the socket pairs
    in_addr_t localAddr = 0; // the client's end of an in-memory connection
};

Delivery g_d;

// Readies the delivery for the next run. The vectors keep their room: a run
// that grows one frees the old buffer, so its allocations and frees still
// match (libFuzzer's leak check looks closer, with a whole heap scan, at
// every run where they do not), and most runs allocate nothing here.
void ResetDelivery() {
    Delivery next;
    next.pieces.swap(g_d.pieces);
    next.chunks.swap(g_d.chunks);
    next.peers.swap(g_d.peers);
    next.pieces.clear();
    next.chunks.clear();
    next.peers.clear();
    g_d = std::move(next);
}

int FakeSocket(int, int type, int) {
    int sv[2];
    if (::socketpair(AF_UNIX, type, 0, sv) != 0)
        return -1;
    g_d.peers.push_back(sv[1]);
    ++g_d.connection;
    return sv[0];
}

// ---- In-memory connections (Mode::memorySockets) ----------------------------------
//
// The descriptor of an in-memory connection is a number no kernel object has
// (above the highest descriptor a process may hold), so the table's entries
// that take a descriptor tell it apart and pass every real one on. Such a
// connection connects at once, is always writable and never readable: its
// data arrives only as the notifications Drive hands the window, as with the
// socket pair, whose other end never writes.

constexpr int kMemorySocketBase = 1 << 24;

tvhost::Syscalls g_real; // the table as it was before the run

bool IsMemorySocket(int fd) {
    return fd >= kMemorySocketBase;
}

int MemorySocket(int, int, int) {
    ++g_d.connection;
    return kMemorySocketBase + g_d.connection;
}

int MemoryClose(int fd) {
    return IsMemorySocket(fd) ? 0 : g_real.close(fd);
}

int MemoryGetsockopt(int fd, int level, int name, void* value, socklen_t* len) {
    if (!IsMemorySocket(fd))
        return g_real.getsockopt(fd, level, name, value, len);
    if (level != SOL_SOCKET || name != SO_ERROR || *len < sizeof(int))
        Fail("an in-memory connection was asked for more than its error");
    *static_cast<int*>(value) = 0;
    *len = sizeof(int);
    return 0;
}

int MemoryGetsockname(int fd, sockaddr* addr, socklen_t* len) {
    if (!IsMemorySocket(fd))
        return g_real.getsockname(fd, addr, len);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(50000);
    local.sin_addr.s_addr = g_d.localAddr;
    std::memcpy(addr, &local, std::min<size_t>(*len, sizeof local));
    *len = sizeof local;
    return 0;
}

int MemoryFionread(int fd, int* waiting) {
    if (!IsMemorySocket(fd))
        return g_real.ioctl_fionread(fd, waiting);
    *waiting = static_cast<int>(g_d.size - g_d.cursor);
    return 0;
}

// The real descriptors are polled as they are (the wake descriptor above
// all); the in-memory ones are hidden from the kernel behind -1, which poll
// skips, and answered here.
int MemoryPoll(pollfd* fds, nfds_t n, int timeout) {
    int hidden[8];
    if (n > std::size(hidden))
        Fail("more descriptors polled than the loop ever holds");
    int ready = 0;
    for (nfds_t i = 0; i < n; ++i) {
        hidden[i] = fds[i].fd;
        if (!IsMemorySocket(fds[i].fd))
            continue;
        fds[i].fd = -1;
        ready += (fds[i].events & POLLOUT) != 0;
    }
    int rc = g_real.poll(fds, n, ready > 0 ? 0 : timeout);
    for (nfds_t i = 0; i < n; ++i) {
        if (!IsMemorySocket(hidden[i]))
            continue;
        fds[i].fd = hidden[i];
        fds[i].revents = fds[i].events & POLLOUT;
    }
    return rc < 0 ? rc : rc + ready;
}

int FakeConnect(int, const sockaddr*, socklen_t) {
    return 0;
}

ssize_t FakeRecv(int, void* buf, size_t n, int) {
    if (g_d.cursor == g_d.size) {
        errno = EAGAIN; // never asked for: data is only signalled while some is left
        return -1;
    }
    if (g_d.pieceLeft == 0) {
        g_d.pieceLeft = g_d.pieces[g_d.piece];
        g_d.piece = (g_d.piece + 1) % g_d.pieces.size();
    }
    const size_t k = std::min({n, g_d.pieceLeft, g_d.size - g_d.cursor});
    std::memcpy(buf, g_d.stream + g_d.cursor, k);
    g_d.chunks.push_back({g_d.connection, g_d.cursor, k});
    g_d.cursor += k;
    g_d.pieceLeft -= k;
    return static_cast<ssize_t>(k);
}

ssize_t FakeSend(int, const void*, size_t n, int) {
    return static_cast<ssize_t>(n); // the server reads nothing the client says
}

// ---- The independent reading of the stream ------------------------------------

struct ModelFile {
    std::string name; // after substitution
    DWORD version;
    int group;
    size_t bodyOffset, bodyLength, bodyHeld; // held < length: cut off
};

struct Model {
    std::vector<ModelFile> files;  // started, in order; only the last may be cut off
    size_t complete = 0;           // files completed
    DWORD initial[2] = {0, 0};     // the pair before any file (File.ver's, once read)
    const char* failure = nullptr; // the message the exchange ends with, if any
    bool finished = false;
};

enum VersionFile { Absent = 0, ValidRecord, DamagedRecord, OtherFormat };

const char* const kRecordText[] = {nullptr, "1 5 7 4", "1 5 7 9", "2 10 20 a"};
const DWORD kRecordPair[][2] = {{0, 0}, {5, 7}, {5, 7}, {10, 20}};

bool EqualNoCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(b[i]))
            return false;
    return true;
}

std::string Substitute(const std::string& name) {
    if (EqualNoCase(name, "Update.exe"))
        return "Update0.exe";
    if (EqualNoCase(name, "File.ver"))
        return "null.dat";
    return name;
}

std::uint32_t U32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The files part of one connection, from `from` to `end` in the stream.
void ReadFiles(const std::uint8_t* s, size_t from, size_t end, bool loopback, Model& m) {
    size_t p = from;
    if (end - p < 8)
        return;
    int left[2] = {s[p] | (s[p + 1] << 8), s[p + 2] | (s[p + 3] << 8)};
    const std::int32_t total = static_cast<std::int32_t>(U32(s + p + 4));
    p += 8;
    if (total > 104857600 && !loopback) {
        m.failure = kMsgTooMany;
        return;
    }
    for (int g = 0; g < 2; ++g) {
        for (; left[g] > 0; --left[g]) {
            if (end - p < 10)
                return;
            const size_t length = s[p] | (s[p + 1] << 8);
            const std::int32_t body = static_cast<std::int32_t>(U32(s + p + 6));
            if (length < 11 || length > 2048 || body < 0) {
                m.failure = kMsgVersionMismatch;
                return;
            }
            if (end - p < length)
                return;
            const char* name = reinterpret_cast<const char*>(s + p + 10);
            const size_t nameLength = strnlen(name, length - 10);
            if (nameLength == length - 10 || nameLength > kMaxName) {
                m.failure = kMsgVersionMismatch;
                return;
            }
            ModelFile f{Substitute(std::string(name, nameLength)),
                        U32(s + p + 2),
                        g,
                        p + length,
                        static_cast<size_t>(body),
                        0};
            p += length;
            f.bodyHeld = std::min(f.bodyLength, end - p);
            p += f.bodyHeld;
            m.files.push_back(f);
            if (f.bodyHeld < f.bodyLength)
                return;
            ++m.complete;
        }
    }
    m.finished = true;
}

Model ReadStream(const std::vector<Delivery::Chunk>& chunks, const std::uint8_t* s,
                 VersionFile record, bool loopback) {
    Model m;
    int redirects = 0;
    size_t c = 0;
    for (int conn = 0; c < chunks.size(); ++conn) {
        // The version reply: the bytes after its 13 in the same receive are dropped.
        size_t held = 0;
        size_t replyAt = 0;
        for (; c < chunks.size() && chunks[c].connection == conn && held < 13; ++c) {
            if (held == 0)
                replyAt = chunks[c].offset;
            held += chunks[c].length;
        }
        if (held < 13)
            return m;
        const std::uint8_t* r = s + replyAt;
        if (r[0] != 1) {
            m.failure = kMsgVersionMismatch;
            return m;
        }
        m.initial[0] = kRecordPair[record][0];
        m.initial[1] = kRecordPair[record][1];
        if (record == DamagedRecord) {
            m.failure = kMsgDamaged;
            return m;
        }
        if (record == OtherFormat) {
            m.failure = kMsgVersionMismatch;
            return m;
        }
        if (U32(r + 1) <= m.initial[0] && U32(r + 5) <= m.initial[1]) {
            m.finished = true;
            return m;
        }
        if (U32(r + 9) != 0 && !loopback) {
            if (++redirects > kMaxRedirects) {
                m.failure = kMsgConnectFailed;
                return m;
            }
            while (c < chunks.size() && chunks[c].connection == conn)
                ++c; // nothing more arrives on a closed connection
            continue;
        }
        // Later receives of this connection follow one another.
        size_t from = c < chunks.size() ? chunks[c].offset : 0, end = from;
        for (; c < chunks.size() && chunks[c].connection == conn; ++c)
            end = chunks[c].offset + chunks[c].length;
        ReadFiles(s, from, end, loopback, m);
        return m;
    }
    return m;
}

// ---- The run --------------------------------------------------------------------

// Threads of this process now (from /proc, read without allocating); -1 when
// it cannot be read.
int ThreadCount() {
    const int fd = ::open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char buf[1024];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return -1;
    buf[n] = '\0';
    // The name in parentheses may hold spaces; the 20th field is the count.
    const char* p = std::strrchr(buf, ')');
    for (int field = 2; p != nullptr && field < 20; ++field)
        p = std::strchr(p + 1, ' ');
    return p != nullptr ? std::atoi(p + 1) : -1;
}

// The install worker has returned when the window's run ends, but its thread
// still frees its own state on the way out. Waiting for it to be gone keeps
// each run's allocations and frees within the run: libFuzzer takes a run
// that ends with more allocations than frees for a possible leak, scans the
// heap, and after a thousand of those turns leak detection off.
void AwaitThreadCount(int count) {
    if (count < 0)
        return;
    for (int i = 0; i < 100000 && ThreadCount() > count; ++i)
        ::sched_yield();
}

// ---- The install worker's thread ------------------------------------------------
//
// The thread start the client asks of the syscall table is served by one
// thread of the harness's own, started once and given each run's worker in
// turn, so the install still runs beside the window's wait as in the
// product. A new thread per run would grow the process for good: the
// sanitizer's runtime keeps about 0.2 KB for every thread ever started.
// A second worker while one still runs (not something the client does) gets
// a real thread, and the run waits for it to be gone.
class WorkerThread {
  public:
    static WorkerThread& Get() {
        static auto* worker = new WorkerThread; // never destroyed: its thread runs to the end
        return *worker;
    }

    static int Start(pthread_t* id, const pthread_attr_t* attr, void* (*fn)(void*), void* arg) {
        WorkerThread& w = Get();
        std::unique_lock lock(w.m_mu);
        // The worker before may still be on its way out: the client waits
        // for it to finish, not for its thread to be gone.
        w.m_cv.wait_for(lock, std::chrono::seconds(1), [&] { return w.m_fn == nullptr; });
        if (w.m_fn != nullptr) {
            lock.unlock();
            if (s_threadsBeforeExtra < 0)
                s_threadsBeforeExtra = ThreadCount();
            return g_real.pthread_create(id, attr, fn, arg);
        }
        w.m_fn = fn;
        w.m_arg = arg;
        *id = w.m_id;
        w.m_cv.notify_all();
        return 0;
    }

    // Returns once the worker given last, if any, has returned, and any real
    // thread started beside it is gone.
    static void AwaitIdle() {
        WorkerThread& w = Get();
        {
            std::unique_lock lock(w.m_mu);
            w.m_cv.wait(lock, [&] { return w.m_fn == nullptr; });
        }
        AwaitThreadCount(s_threadsBeforeExtra);
        s_threadsBeforeExtra = -1;
    }

  private:
    WorkerThread() {
        if (::pthread_create(&m_id, nullptr, Loop, this) != 0)
            std::abort();
        ::pthread_detach(m_id);
    }

    static void* Loop(void* self) {
        auto& w = *static_cast<WorkerThread*>(self);
        std::unique_lock lock(w.m_mu);
        for (;;) {
            w.m_cv.wait(lock, [&] { return w.m_fn != nullptr; });
            lock.unlock();
            // As on a fresh thread.
            SetLastError(0);
            errno = 0;
            w.m_fn(w.m_arg);
            lock.lock();
            w.m_fn = nullptr;
            w.m_cv.notify_all();
        }
    }

    static inline int s_threadsBeforeExtra = -1;
    std::mutex m_mu;
    std::condition_variable m_cv;
    void* (*m_fn)(void*) = nullptr;
    void* m_arg = nullptr;
    pthread_t m_id{};
};

CUpdateDlg* g_dlg = nullptr;
std::vector<std::string> g_listAtInstall; // the received-file list the install step took
bool g_installed = false;

// The progress window without its per-piece display (Mode::showProgress).
class UndisplayedUpdateDlg final : public CUpdateDlg {
  public:
    UndisplayedUpdateDlg() : CUpdateDlg(nullptr) {}
    void AdvanceProgress(int) override {}
    void RefreshLabels() override {}
    void RefreshCaption() override {}
};

bool WindowEnded(CUpdateDlg* dlg) {
    HWND h = dlg->GetSafeHwnd();
    return !tvhost::IsLiveWindow(h) || tvhost::Win(h)->endRequested;
}

void Drive(CUpdateDlg* dlg, bool loopback, int closeCode) {
    dlg->m_socket.m_nLocalAddr = loopback ? wire::kLoopbackAddr : 0x0200007Fu;
    while (g_d.cursor < g_d.size && dlg->m_socket.m_pOwner != nullptr && !WindowEnded(dlg)) {
        // A full buffer with data waiting would be notified for ever.
        if (dlg->m_nRecvLen >= UPDATE_RECV_BUFFER)
            Fail("receive buffer full while the exchange waits");
        dlg->m_socket.OnReceive(0);
    }
    if (dlg->m_socket.m_pOwner != nullptr)
        dlg->m_socket.OnClose(closeCode);
    if (!WindowEnded(dlg))
        dlg->EndDialog(IDCANCEL); // the user closes the window
}

// The client refuses a download or an install that cannot fit, naming the
// megabytes it needs: a stream may declare gzip bodies of up to 4 GB each in
// their trailers. Returns the figure when box is such a refusal, else 0.
unsigned long long DiskFullFigure(const std::string& box) {
    const size_t at = box.find_first_of("0123456789");
    if (at == std::string::npos)
        return 0;
    const unsigned long long neededMb = std::strtoull(box.c_str() + at, nullptr, 10);
    if (neededMb == 0 || neededMb > (1ull << 40) || box != DiskFullText(neededMb << 20).GetString())
        return 0;
    return neededMb;
}

unsigned long long FreeMegabytes() {
    struct statvfs fs;
    if (::statvfs(".", &fs) != 0)
        Fail("the working directory's file system cannot be read");
    return static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize >> 20;
}

// Every message must be one the exchange can give. A refusal for want of
// room is expected only when the figure it names is more than the working
// directory's file system has free. Returns whether there was such a refusal.
bool CheckMessages(const std::vector<std::string>& boxes, const Model& m, int closeCode,
                   bool createFailed) {
    bool diskFull = false;
    for (const std::string& b : boxes) {
        const bool known = b == kMsgConnectFailed || b == kMsgVersionMismatch || b == kMsgTooMany ||
                           b == kMsgDamaged || (b == kMsgConnectionLost && closeCode != 0) ||
                           b.rfind("Can't create file ", 0) == 0;
        if (known)
            continue;
        const unsigned long long neededMb = DiskFullFigure(b);
        if (neededMb == 0 || neededMb <= FreeMegabytes())
            Fail(("unexpected message: " + b).c_str());
        diskFull = true;
    }
    if (m.failure != nullptr && !createFailed &&
        std::find(boxes.begin(), boxes.end(), m.failure) == boxes.end())
        Fail("the exchange's failure was not reported");
    return diskFull;
}

void CheckFiles(const Model& m, size_t k) {
    for (size_t i = 0; i < k; ++i) {
        const ModelFile& f = m.files[i];
        bool later = false; // a later copy of the same name overwrote this one
        for (size_t j = i + 1; j < m.files.size(); ++j)
            later = later || m.files[j].name == f.name;
        if (later)
            continue;
        char path[kMaxName + sizeof ".gz"]; // names are at most 256 bytes
        std::memcpy(path, f.name.data(), f.name.size());
        std::memcpy(path + f.name.size(), ".gz", sizeof ".gz");
        std::replace(path, path + f.name.size(), '\\', '/');
        switch (clientfuzz::CompareFile(path, g_d.stream + f.bodyOffset, f.bodyLength)) {
        case clientfuzz::FileMatch::Missing:
            Fail("a received file has no .gz file");
        case clientfuzz::FileMatch::Differs:
            Fail("a received file's .gz file is not its whole body");
        case clientfuzz::FileMatch::Same:
            break;
        }
    }
}

// The pair must be the one the first k completed files give. A refusal for want of room
// (of the download, or of the install after an exchange that may have
// failed part-way) leaves the pair the files received until then reached,
// which the harness does not see: any prefix of the completed files is
// accepted. File.ver is checked unchanged either way.
void CheckVersions(const Model& m, size_t k, const DWORD version[2], bool diskFull) {
    DWORD pair[2] = {m.initial[0], m.initial[1]};
    for (size_t j = 0;; ++j) {
        if (pair[0] == version[0] && pair[1] == version[1] && (j == k || diskFull))
            return;
        if (j >= k && (!diskFull || j == m.complete))
            break;
        pair[m.files[j].group] = m.files[j].version;
    }
    Fail("the version pair is not that of the completed files");
}

// The install step's decompressor: takes a snapshot of the list it works
// through and leaves every file as received.
int32_t SnapshotDecompress(const char*) {
    if (!g_installed) {
        g_installed = true;
        for (INT_PTR i = 0; i < g_dlg->m_receivedFiles.GetSize(); ++i)
            g_listAtInstall.emplace_back(g_dlg->m_receivedFiles[i].GetString());
    }
    return 0;
}

} // namespace

namespace receivefuzz {

int RunInput(const std::uint8_t* data, size_t size, const Mode& mode) {
    if (size < 3)
        return 0;
    const VersionFile record = static_cast<VersionFile>(data[0] & 3);
    const bool loopback = (data[0] & 4) != 0;
    const int closeCode = (data[0] & 8) ? WSAECONNRESET : 0;
    const size_t nPieces = (data[1] & 15) + 1;
    if (size < 2 + nPieces)
        return 0;

    clientfuzz::SilentFrontEnd& fe = clientfuzz::BeginRun();
    for (size_t i = 0; i < nPieces; ++i) {
        const unsigned b = data[2 + i];
        g_d.pieces.push_back(b < 200 ? b + 1 : (b - 199) * 64);
    }
    g_d.stream = data + 2 + nPieces;
    g_d.size = size - 2 - nPieces;
    std::string initialRecord;
    if (record != Absent) {
        initialRecord = kRecordText[record];
        ScrambleText(initialRecord.data());
        clientfuzz::WriteFile("File.ver", initialRecord.data(), initialRecord.size());
    }
    g_installed = false;
    SetInstallDecompressor(SnapshotDecompress);

    const tvhost::Syscalls saved = tvhost::syscalls;
    g_real = saved;
    tvhost::syscalls.socket = FakeSocket;
    tvhost::syscalls.connect = FakeConnect;
    tvhost::syscalls.recv = FakeRecv;
    tvhost::syscalls.send = FakeSend;
    tvhost::syscalls.pthread_create = WorkerThread::Start;
    if (mode.memorySockets) {
        g_d.localAddr = loopback ? wire::kLoopbackAddr : 0x0200007Fu;
        tvhost::syscalls.socket = MemorySocket;
        tvhost::syscalls.close = MemoryClose;
        tvhost::syscalls.getsockopt = MemoryGetsockopt;
        tvhost::syscalls.getsockname = MemoryGetsockname;
        tvhost::syscalls.ioctl_fionread = MemoryFionread;
        tvhost::syscalls.poll = MemoryPoll;
    }
    g_strServerAddr = "192.0.2.1";
    g_nServerPort = 43001;

    CUpdateDlg* dlg = mode.showProgress ? new CUpdateDlg(nullptr) : new UndisplayedUpdateDlg;
    g_dlg = dlg;
    // One reference captured: the callback is held without an allocation.
    const struct {
        CUpdateDlg* dlg;
        bool loopback;
        int closeCode;
    } run{dlg, loopback, closeCode};
    fe.onModalStart = [&run](UINT id, HWND) {
        if (id == IDD_UPDATE_DIALOG)
            Drive(run.dlg, run.loopback, run.closeCode);
        else if (id == IDD_SERVER_SELECT)
            tvhost::PostKey(tvhost::Key::Escape);
    };
    dlg->DoModal();
    if (mode.workerThread)
        WorkerThread::AwaitIdle();
    const DWORD version[2] = {dlg->m_nVersion[0], dlg->m_nVersion[1]};
    const INT_PTR left = dlg->m_receivedFiles.GetSize();
    delete dlg;
    g_dlg = nullptr;
    for (int fd : g_d.peers)
        ::close(fd);
    tvhost::syscalls = saved;

    const Model m = ReadStream(g_d.chunks, g_d.stream, record, loopback);
    bool createFailed = false;
    for (const std::string& b : fe.boxes)
        createFailed = createFailed || b.rfind("Can't create file ", 0) == 0;
    const bool diskFull = CheckMessages(fe.boxes, m, closeCode, createFailed);
    if (left != 0)
        Fail("files were left uninstalled");

    std::string recordNow;
    const bool haveRecord = clientfuzz::ReadFile("File.ver", recordNow);
    size_t k = g_listAtInstall.size();
    if (!g_installed && haveRecord && recordNow != initialRecord) {
        // Only null.dat arrived: nothing was decompressed, but the pair was
        // recorded. Take the longest run of null.dat files that gives it.
        size_t run = 0;
        while (run < m.complete && m.files[run].name == "null.dat")
            ++run;
        k = 0;
        DWORD pair[2] = {m.initial[0], m.initial[1]};
        for (size_t i = 0; i < run; ++i) {
            pair[m.files[i].group] = m.files[i].version;
            if (pair[0] == version[0] && pair[1] == version[1])
                k = i + 1;
        }
    }
    if (k > m.complete)
        Fail("more files received than the stream completes");
    for (size_t i = 0; i < g_listAtInstall.size(); ++i)
        if (g_listAtInstall[i] != m.files[i].name)
            Fail("the received-file list is not the stream's files in order");
    if (k < m.complete && !createFailed && !diskFull && m.failure == nullptr)
        Fail("a completed file was dropped without a message");
    if (std::getenv("TV_FUZZ_VERBOSE") != nullptr)
        std::fprintf(stderr,
                     "stream %zu bytes, %zu receives: %zu of %zu files completed, %zu "
                     "installed, pair %u %u, %zu messages\n",
                     g_d.size, g_d.chunks.size(), m.complete, m.files.size(), k, version[0],
                     version[1], fe.boxes.size());
    CheckFiles(m, k);
    CheckVersions(m, k, version, diskFull);
    if (k > 0) {
        DWORD recorded[2];
        if (!haveRecord ||
            ReadVersionRecordFile("File.ver", recorded) != VersionRecordStatus::Valid ||
            recorded[0] != version[0] || recorded[1] != version[1])
            Fail("File.ver does not record the installed files");
    } else if (haveRecord != (record != Absent) || recordNow != initialRecord) {
        Fail("File.ver changed although nothing was installed");
    }
    clientfuzz::EndRun();
    ResetDelivery();
    g_listAtInstall.clear();
    fe.boxes.clear();
    return 0;
}

} // namespace receivefuzz
