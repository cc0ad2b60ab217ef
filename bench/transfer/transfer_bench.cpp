// transfer-bench: streams one large exchange (default 200 MB in one file)
// over loopback through the update client in its non-interactive mode, then
// under a pseudo-terminal with the terminal interface on, and through a
// minimal reference loop (poll, receive at most 2048 bytes, write to a file),
// and prints throughput, the client/reference ratios and the client's peak
// resident memory. Best of several rounds, all measured in this one run.
// A client run is timed from its start until it has closed the received file.
#include "protocol/wire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The file is sent as "File.ver", which the client stores as null.dat.gz and
// never decompresses, so only the transfer is measured.
const char kName[] = "File.ver";
const char kStored[] = "null.dat.gz";

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool SendAll(int fd, const void* data, std::size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

bool RecvAll(int fd, void* data, std::size_t n) {
    char* p = static_cast<char*>(data);
    while (n > 0) {
        const ssize_t r = ::recv(fd, p, n, 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// Serves one exchange of `size` body bytes to the next client.
class Sender {
  public:
    explicit Sender(std::int32_t size) : m_size(size) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~Sender() { ::close(m_fd); }
    unsigned Port() const { return m_port; }

    // One exchange on its own thread.
    std::thread ServeOne() {
        return std::thread([this] {
            const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                return;
            Exchange(c);
            ::shutdown(c, SHUT_WR);
            char sink[64];
            while (::recv(c, sink, sizeof sink, 0) > 0) {
            }
            ::close(c);
        });
    }

  private:
    void Exchange(int c) {
        wire::VersionReply reply;
        reply.version[0] = 1;
        unsigned char head[wire::kMaxFileHeaderSize];
        wire::Encode(reply, head);
        if (!SendAll(c, head, wire::kVersionReplySize) ||
            !RecvAll(c, head, wire::kVersionRequestSize))
            return;
        wire::ListHeader list;
        list.groupFiles[0] = 1;
        list.totalSize = m_size;
        wire::Encode(list, head);
        const int n = wire::EncodeFileHeader(1, m_size, kName, head + wire::kListHeaderSize);
        if (!SendAll(c, head, wire::kListHeaderSize + static_cast<std::size_t>(n)))
            return;
        std::vector<char> block(1 << 16);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 131 + (i >> 9));
        for (std::int64_t left = m_size; left > 0;) {
            const std::size_t k = static_cast<std::size_t>(
                std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
            if (!SendAll(c, block.data(), k))
                return;
            left -= static_cast<std::int64_t>(k);
        }
    }

    int m_fd = -1;
    unsigned m_port = 0;
    std::int32_t m_size;
};

struct Result {
    long screenBytes = 0; // terminal output the client drew (pseudo-terminal runs)
    double seconds = 0;
    double cpu = 0; // user + system seconds of the receiving side
    long maxRssKb = 0;
    bool ok = false;
};

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The reference: the same exchange with nothing but poll, recv of at most
// 2048 bytes and write.
Result ReferenceLoop(Sender& sender, const std::string& dir, std::int32_t size) {
    std::thread t = sender.ServeOne();
    Result r;
    rusage before{};
    ::getrusage(RUSAGE_THREAD, &before);
    const double start = Now();
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(sender.Port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    unsigned char buf[2048];
    const std::string path = dir + "/reference.out";
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        RecvAll(s, buf, wire::kVersionReplySize)) {
        unsigned char req[wire::kVersionRequestSize] = {1};
        SendAll(s, req, sizeof req);
        const std::int64_t want = wire::kListHeaderSize + wire::FileHeaderSize(strlen(kName)) +
                                  static_cast<std::int64_t>(size);
        std::int64_t got = 0;
        while (got < want) {
            pollfd p{s, POLLIN, 0};
            ::poll(&p, 1, -1);
            const ssize_t n = ::recv(s, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            if (::write(out, buf, static_cast<std::size_t>(n)) != n)
                break;
            got += n;
        }
        r.ok = got == want;
    }
    ::close(out);
    ::close(s);
    r.seconds = Now() - start;
    rusage after{};
    ::getrusage(RUSAGE_THREAD, &after);
    r.cpu = CpuSeconds(after) - CpuSeconds(before);
    t.join();
    ::unlink(path.c_str());
    return r;
}

// Waits until the client has closed its output file (inotify on the working
// directory); false after 60 s without it.
bool WaitStoredClosed(int inotifyFd) {
    alignas(inotify_event) char buf[4096];
    const double deadline = Now() + 60;
    while (Now() < deadline) {
        pollfd p{inotifyFd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0)
            continue;
        const ssize_t n = ::read(inotifyFd, buf, sizeof buf);
        for (ssize_t i = 0; i < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + i);
            if (ev->len > 0 && std::strcmp(ev->name, kStored) == 0)
                return true;
            i += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
    return false;
}

// The client process itself: under script it is script's only child.
pid_t ClientPid(pid_t pid, bool tty) {
    if (!tty)
        return pid;
    const std::string path =
        "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
    FILE* f = std::fopen(path.c_str(), "r");
    int child = -1;
    if (f != nullptr) {
        if (std::fscanf(f, "%d", &child) != 1)
            child = -1;
        std::fclose(f);
    }
    return child;
}

// The client in its working directory; under a pseudo-terminal when tty. The
// transfer ends when the client closes the received file; the run is then
// ended as the close box would (SIGTERM), since the server selection that
// follows waits for the player.
Result ClientRun(Sender& sender, const std::string& dir, std::int32_t size, bool tty) {
    const std::string config = dir + "/Config.ini";
    FILE* f = std::fopen(config.c_str(), "w");
    std::fprintf(f, "[Update]\nIP=127.0.0.1\nPort=%u\n", sender.Port());
    std::fclose(f);
    const std::string stored = dir + "/" + kStored;
    ::unlink(stored.c_str());
    ::unlink((dir + "/File.ver").c_str());
    const int inotifyFd = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(inotifyFd, dir.c_str(), IN_CLOSE_WRITE);
    std::thread t = sender.ServeOne();
    Result r;
    const double start = Now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0)
            ::_exit(126);
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(devNull, 1);
        if (tty) // script gives the client a terminal and keeps what it drew
            ::execl("/usr/bin/script", "script", "-qec", TV_CLIENT_EXE, "screen.out", nullptr);
        else
            ::execl(TV_CLIENT_EXE, TV_CLIENT_EXE, nullptr);
        ::_exit(127);
    }
    const bool closed = WaitStoredClosed(inotifyFd);
    r.seconds = Now() - start;
    ::close(inotifyFd);
    const pid_t client = ClientPid(pid, tty);
    if (client > 0)
        ::kill(client, SIGTERM);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    t.join();
    r.maxRssKb = usage.ru_maxrss;
    r.cpu = CpuSeconds(usage);
    struct stat st {};
    r.ok = closed && ::stat(stored.c_str(), &st) == 0 && st.st_size == size;
    ::unlink(stored.c_str());
    const std::string screen = dir + "/screen.out";
    if (::stat(screen.c_str(), &st) == 0)
        r.screenBytes = static_cast<long>(st.st_size);
    ::unlink(screen.c_str());
    ::unlink((dir + "/File.ver").c_str());
    ::unlink((dir + "/Server.cnv").c_str());
    return r;
}

Result Best(const std::vector<Result>& runs) {
    Result best = runs.front();
    for (const Result& r : runs) {
        if (!r.ok)
            return r;
        if (r.seconds < best.seconds)
            best = r;
        best.maxRssKb = std::max(best.maxRssKb, r.maxRssKb);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    long megabytes = 200;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--mb"))
            megabytes = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    const std::int32_t size = static_cast<std::int32_t>(megabytes * 1000 * 1000);
    char templ[] = "/tmp/transfer_bench_XXXXXX";
    const std::string dir = ::mkdtemp(templ);
    Sender sender(size);
    const bool haveScript = ::access("/usr/bin/script", X_OK) == 0;

    std::vector<Result> ref, line, term;
    for (int i = 0; i < rounds; ++i) {
        ref.push_back(ReferenceLoop(sender, dir, size));
        line.push_back(ClientRun(sender, dir, size, false));
        if (haveScript)
            term.push_back(ClientRun(sender, dir, size, true));
    }
    ::unlink((dir + "/Config.ini").c_str());
    ::rmdir(dir.c_str());

    if (std::getenv("TRANSFER_BENCH_VERBOSE"))
        for (int i = 0; i < rounds; ++i)
            std::printf("round %d: reference %.3f s, line %.3f s, terminal %.3f s\n", i + 1,
                        ref[static_cast<std::size_t>(i)].seconds,
                        line[static_cast<std::size_t>(i)].seconds,
                        term.empty() ? 0.0 : term[static_cast<std::size_t>(i)].seconds);
    const Result r = Best(ref), l = Best(line);
    const double mb = static_cast<double>(size) / 1e6;
    std::printf("exchange: %.0f MB in one file, best of %d rounds\n", mb, rounds);
    std::printf("reference loop    : %6.3f s  %7.1f MB/s  cpu %.3f s%s\n", r.seconds,
                mb / r.seconds, r.cpu, r.ok ? "" : "  FAILED");
    std::printf("client, line mode : %6.3f s  %7.1f MB/s  cpu %.3f s  ratio %.2f  peak RSS %.1f "
                "MB%s\n",
                l.seconds, mb / l.seconds, l.cpu, r.seconds / l.seconds, l.maxRssKb / 1024.0,
                l.ok ? "" : "  FAILED");
    if (haveScript) {
        const Result t = Best(term);
        std::printf("client, terminal  : %6.3f s  %7.1f MB/s  cpu %.3f s  ratio %.2f  peak RSS "
                    "%.1f MB  (%ld bytes drawn)%s\n",
                    t.seconds, mb / t.seconds, t.cpu, r.seconds / t.seconds, t.maxRssKb / 1024.0,
                    t.screenBytes, t.ok ? "" : "  FAILED");
    }
    return r.ok && l.ok ? 0 : 1;
}
