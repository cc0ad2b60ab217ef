// The control thread: start-up, signals, the status line, snapshot switches;
// the workers do the serving (worker.h). A Linux tool: POSIX is fine.
#include "server.h"

#include "publish.h"
#include "worker.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tvserver {

namespace {

const char kProgram[] = "torvane-update-server";
// Descriptors kept free for the log, the store and the snapshot files.
const int kSpareFds = 64;

void Error(const std::string& message) {
    std::fprintf(stderr, "%s: error: %s\n", kProgram, message.c_str());
}

// Every connection may hold its socket and one body file.
int ConnectionCap(const ServeOptions& o) {
    rlimit r{};
    if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &r);
    }
    ::getrlimit(RLIMIT_NOFILE, &r);
    const long fit = (static_cast<long>(std::min<rlim_t>(r.rlim_cur, 1 << 24)) - kSpareFds) / 2;
    if (o.maxConnections == 0)
        return static_cast<int>(std::max(1L, std::min(fit, 10000L)));
    if (o.maxConnections > fit)
        LogLine("warning: the descriptor limit allows " + std::to_string(fit) +
                " connections, not " + std::to_string(o.maxConnections) + ": using " +
                std::to_string(std::max(1L, fit)));
    return static_cast<int>(std::max(1L, std::min<long>(fit, o.maxConnections)));
}

std::string Describe(const Snapshot& s) {
    return "snapshot " + std::to_string(s.Id()) + ": version " + std::to_string(s.Version()[0]) +
           " " + std::to_string(s.Version()[1]) + ", " + std::to_string(s.Files().size()) +
           " files, " + std::to_string(s.Bytes()) + " bytes";
}

// The snapshot to serve at start: the current one, or a first publish of
// the content when there is none yet.
std::shared_ptr<const Snapshot> FirstSnapshot(const ServeOptions& o) {
    const std::string store = StorePath(o.contentDir);
    std::string error;
    if (Snapshot::CurrentId(store) == 0) {
        PublishOptions p;
        p.contentDir = o.contentDir;
        p.notify = false;
        PublishReport report{[](const std::string& s) { LogLine("publish: " + s); },
                             [](const std::string& s) { LogLine("publish: warning: " + s); }};
        std::vector<std::string> errors;
        if (!Publish(p, report, errors)) {
            for (const std::string& e : errors)
                Error(e);
            return nullptr;
        }
    }
    auto snapshot = Snapshot::LoadCurrent(store, error);
    if (!snapshot) {
        Error(error);
        return nullptr;
    }
    struct stat manifest {
    }, published{};
    if (::stat((o.contentDir + "/manifest.txt").c_str(), &manifest) == 0 &&
        ::lstat((store + "/current").c_str(), &published) == 0 &&
        manifest.st_mtime > published.st_mtime)
        LogLine("warning: manifest.txt changed after snapshot " + std::to_string(snapshot->Id()) +
                " was published; serving the snapshot (run publish to serve the change)");
    return snapshot;
}

int Listen(const ServeOptions& o) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(o.port));
    if (::inet_pton(AF_INET, o.bindAddr.c_str(), &addr.sin_addr) != 1) {
        Error("bad bind address: " + o.bindAddr);
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 4096) != 0) {
        Error("cannot listen on " + o.bindAddr + ":" + std::to_string(o.port) + ": " +
              std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

unsigned BoundPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

void Switch(ServerShared& shared) {
    std::string error;
    const auto current = shared.CurrentSnapshot();
    const std::string store = StorePath(shared.options.contentDir);
    if (Snapshot::CurrentId(store) == current->Id()) {
        LogLine("still " + Describe(*current) + ": nothing newer is published");
        return;
    }
    auto next = Snapshot::LoadCurrent(store, error);
    if (!next) {
        LogLine("cannot switch, still serving snapshot " + std::to_string(current->Id()) + ": " +
                error);
        return;
    }
    // Switched before the log says so: whoever acts on the line (an operator,
    // a script, a client started after it) gets the new snapshot.
    const std::string line = "switched to " + Describe(*next) +
                             "; connected clients finish with snapshot " +
                             std::to_string(current->Id());
    shared.SetSnapshot(std::move(next));
    LogLine(line);
}

void StartStopping(ServerShared& shared) {
    const std::int64_t now = MonotonicMs();
    // Refused from here on: the port stops listening before the log says so.
    ::shutdown(shared.listenFd, SHUT_RD);
    if (shared.stopLevel.load() == 0) {
        shared.graceEndMs = now + shared.options.graceMs;
        shared.stopLevel = 1;
        LogLine("stopping: no new connections; running transfers may take " +
                std::to_string(shared.options.graceMs / 1000) + " s");
    } else {
        shared.stopLevel = 2;
        LogLine("stopping now");
    }
    const std::uint64_t one = 1;
    (void)!::write(shared.wakeFd, &one, sizeof one);
}

int SignalFd() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        sigaddset(&set, s);
    // Blocked in every thread (they inherit the mask), taken here only.
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return ::signalfd(-1, &set, SFD_CLOEXEC);
}

int StatusTimer(int seconds) {
    if (seconds <= 0)
        return -1;
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    itimerspec t{};
    t.it_interval.tv_sec = t.it_value.tv_sec = seconds;
    ::timerfd_settime(fd, 0, &t, nullptr);
    return fd;
}

void ControlLoop(ServerShared& shared, int signalFd, int timerFd, int doneFd, int workers) {
    for (int done = 0; done < workers;) {
        pollfd p[3] = {{signalFd, POLLIN, 0}, {doneFd, POLLIN, 0}, {timerFd, POLLIN, 0}};
        if (::poll(p, timerFd >= 0 ? 3 : 2, -1) < 0)
            continue;
        std::uint64_t n = 0;
        if (p[1].revents && ::read(doneFd, &n, sizeof n) == sizeof n)
            done += static_cast<int>(n);
        if (timerFd >= 0 && p[2].revents && ::read(timerFd, &n, sizeof n) == sizeof n)
            LogLine(StatusText(shared.counters) +
                    " snapshot=" + std::to_string(shared.CurrentSnapshot()->Id()));
        signalfd_siginfo si{};
        if (!p[0].revents || ::read(signalFd, &si, sizeof si) != sizeof si)
            continue;
        if (si.ssi_signo == SIGHUP)
            Switch(shared);
        else if (si.ssi_signo == SIGUSR1)
            LogLine(StatusText(shared.counters) +
                    " snapshot=" + std::to_string(shared.CurrentSnapshot()->Id()));
        else
            StartStopping(shared);
    }
}

} // namespace

int Serve(const ServeOptions& options) {
    std::signal(SIGPIPE, SIG_IGN);
    ServeOptions o = options;
    if (o.once)
        o.threads = 1; // one client: no second worker to race for it
    auto snapshot = FirstSnapshot(o);
    if (!snapshot)
        return 2;
    const int listenFd = Listen(o);
    if (listenFd < 0)
        return 2;
    ServerShared shared(o, ConnectionCap(o));
    shared.listenFd = listenFd;
    shared.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    shared.SetSnapshot(snapshot);
    const std::string store = StorePath(o.contentDir);
    std::string error;
    const int registration = RegisterServer(store, error);
    if (registration < 0)
        LogLine("warning: " + error + "; publish cannot ask this server to switch (send SIGHUP)");
    const int signalFd = SignalFd();
    const int timerFd = StatusTimer(o.statusIntervalS);
    const int doneFd = ::eventfd(0, EFD_CLOEXEC);
    LogLine("listening on " + o.bindAddr + ":" + std::to_string(BoundPort(listenFd)) + " (" +
            Describe(*snapshot) + ")");
    snapshot.reset();
    std::vector<std::thread> threads;
    for (int i = 0; i < o.threads; ++i)
        threads.emplace_back([&shared, doneFd] {
            Worker(shared).Run();
            const std::uint64_t one = 1;
            (void)!::write(doneFd, &one, sizeof one);
        });
    ControlLoop(shared, signalFd, timerFd, doneFd, o.threads);
    for (std::thread& t : threads)
        t.join();
    LogLine("stopped; " + StatusText(shared.counters));
    UnregisterServer(store, registration);
    ::close(listenFd);
    return 0;
}

} // namespace tvserver
