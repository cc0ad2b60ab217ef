// load-bench: many update clients at once against torvane-update-server and,
// in the same run, against a bare in-memory sender of the same bytes; also
// the cost of stalled and idle connections. `load-bench verify` points the
// same clients at a running server (or a proxy in front of several) and
// checks every byte. Run with --help for the options.
#include "bare_sender.h"
#include "clients.h"
#include "content.h"
#include "server_process.h"
#include "store_files.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace loadbench;

const char kUsage[] = R"(usage:
  load-bench [OPTIONS]
      The whole benchmark over loopback: throughput waves against the server
      and against a bare sender of the same bytes, the last client's time
      beside stalled connections, and the server's memory per idle
      connection. Needs about 70000 descriptors (raised as root).
    --clients LIST       client counts of the throughput waves (20,200,1000;
                         0 skips the phase)
    --rounds N           waves per sender and count, the best kept (3)
    --wave-mb N          about how many MiB one wave moves (768)
    --stalled N          stalled connections (1000; 0 skips the phase)
    --stalled-clients N  real clients beside them (200)
    --idle N             idle connections for the memory figure (10000; 0 skips)
    --server-threads N   the server's --threads (1, like the bare sender)
    --server PATH        the server executable (the one built with this tool)
    --keep               keep the scratch directory (content, server logs)

  load-bench verify --connect ADDR:PORT --content DIR [OPTIONS]
      N clients at once against a running server, or a proxy in front of
      servers of DIR; each must get, byte for byte, what the current
      snapshot of DIR owes its version pair. Exit status 0 when all did.
    --clients N          (100)
    --pair A,B           the clients' local version pair (0,0)
    --limited            expect the 104857600-byte rule (clients off loopback,
                         or servers run with --limit-loopback)
    --timeout S          for the whole wave (120)
)";

struct Options {
    std::vector<int> clients = {20, 200, 1000};
    int rounds = 3;
    long waveMb = 768;
    int stalled = 1000;
    int stalledClients = 200;
    int idle = 10000;
    int serverThreads = 1;
    std::string server = TV_SERVER_EXE;
    bool keep = false;
    // verify
    std::string connect, content;
    int verifyClients = 100;
    std::uint32_t pair[2] = {0, 0};
    bool limited = false;
    double timeoutS = 120;
};

[[noreturn]] void Usage(const std::string& why) {
    std::fprintf(stderr, "load-bench: %s\n(load-bench --help lists the options)\n", why.c_str());
    std::exit(2);
}

long Number(const std::string& option, const std::string& text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        Usage(option + " takes a number from " + std::to_string(low) + " to " +
              std::to_string(high) + ": " + text);
    return v;
}

std::vector<long> NumberList(const std::string& option, const std::string& text, long low,
                             long high) {
    std::vector<long> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        out.push_back(Number(option, item, low, high));
    if (out.empty())
        Usage(option + " needs a value");
    return out;
}

Options Parse(int argc, char** argv, bool& verify) {
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    verify = !args.empty() && args[0] == "verify";
    for (std::size_t i = verify ? 1 : 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                Usage(a + " needs a value");
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--clients" && verify) {
            o.verifyClients = static_cast<int>(Number(a, value(), 1, 30000));
        } else if (a == "--clients") {
            o.clients.clear();
            for (long n : NumberList(a, value(), 0, 30000))
                if (n > 0)
                    o.clients.push_back(static_cast<int>(n));
        } else if (a == "--rounds") {
            o.rounds = static_cast<int>(Number(a, value(), 1, 100));
        } else if (a == "--wave-mb") {
            o.waveMb = Number(a, value(), 1, 1 << 20);
        } else if (a == "--stalled") {
            o.stalled = static_cast<int>(Number(a, value(), 0, 30000));
        } else if (a == "--stalled-clients") {
            o.stalledClients = static_cast<int>(Number(a, value(), 1, 30000));
        } else if (a == "--idle") {
            o.idle = static_cast<int>(Number(a, value(), 0, 30000));
        } else if (a == "--server-threads") {
            o.serverThreads = static_cast<int>(Number(a, value(), 1, 256));
        } else if (a == "--server") {
            o.server = value();
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--connect" && verify) {
            o.connect = value();
        } else if (a == "--content" && verify) {
            o.content = value();
        } else if (a == "--pair" && verify) {
            const std::vector<long> p = NumberList(a, value(), 0, 4294967295L);
            if (p.size() != 2)
                Usage("--pair takes two numbers: A,B");
            o.pair[0] = static_cast<std::uint32_t>(p[0]);
            o.pair[1] = static_cast<std::uint32_t>(p[1]);
        } else if (a == "--limited" && verify) {
            o.limited = true;
        } else if (a == "--timeout" && verify) {
            o.timeoutS = static_cast<double>(Number(a, value(), 1, 86400));
        } else {
            Usage("bad argument: " + a);
        }
    }
    return o;
}

bool ParseAddress(const std::string& text, sockaddr_in& out) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    char* end = nullptr;
    const unsigned long port = std::strtoul(text.c_str() + colon + 1, &end, 10);
    out.sin_port = htons(static_cast<std::uint16_t>(port));
    return *end == '\0' && port > 0 && port < 65536 &&
           ::inet_pton(AF_INET, text.substr(0, colon).c_str(), &out.sin_addr) == 1;
}

double MiB(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

// False (with the failures printed) unless every client completed.
bool Check(const WaveResult& w, const char* against) {
    if (w.failed() == 0)
        return true;
    std::printf("FAILED against the %s: %d of %d clients did not complete\n", against, w.failed(),
                w.clients);
    for (const std::string& e : w.errors)
        std::printf("  %s\n", e.c_str());
    return false;
}

std::string LoadAverage() {
    std::string text;
    tvserver::ReadSmallFile("/proc/loadavg", text);
    return text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
}

// Kernel memory of every TCP socket on the machine, in KiB (both ends of a
// loopback connection count).
long KernelTcpKb() {
    std::ifstream in("/proc/net/sockstat");
    std::string word;
    while (in >> word)
        if (word == "mem") {
            long pages = 0;
            in >> pages;
            return pages * (::sysconf(_SC_PAGESIZE) / 1024);
        }
    return -1;
}

// Kernel slab memory in KiB: socket structures, epoll entries, open files
// (machine-wide, so other work on the machine shows in it too).
long KernelSlabKb() {
    std::ifstream in("/proc/meminfo");
    std::string key;
    long value = -1;
    while (in >> key) {
        if (key == "Slab:" && in >> value)
            return value;
        in.ignore(1 << 20, '\n');
    }
    return -1;
}

// Owed to every client of a wave of n: k group-0 files, so a wave moves
// about waveMb in all.
bool WaveExchange(const Options& o, const std::string& content, int n, Exchange& ex,
                  std::string& error) {
    const long perClient = o.waveMb * 1024 * 1024 / n / static_cast<long>(kFileSize);
    const long k = std::clamp(perClient, 1L, static_cast<long>(kGroup0Files));
    const std::uint32_t pair[2] = {static_cast<std::uint32_t>(kGroup0Files - k), 0};
    return LoadExchange(content, pair, false, ex, error);
}

bool Throughput(const Options& o, const std::string& content, ServerProcess& server, int n) {
    Exchange ex;
    std::string error;
    BareSender bare;
    if (!WaveExchange(o, content, n, ex, error) || !bare.Start(ex, error)) {
        std::printf("FAILED: %s\n", error.c_str());
        return false;
    }
    double bestBare = 0, bestServer = 0;
    for (int r = 0; r < o.rounds; ++r) {
        const WaveResult b = RunWave(bare.Address(), n, ex, 300);
        const WaveResult s = RunWave(server.Address(), n, ex, 300);
        if (!Check(b, "bare sender") || !Check(s, "server"))
            return false;
        bestBare = std::max(bestBare, MiB(double(b.bytes)) / b.seconds);
        bestServer = std::max(bestServer, MiB(double(s.bytes)) / s.seconds);
    }
    std::printf("%6d clients x %6.2f MiB   bare %7.0f MiB/s   server %7.0f MiB/s   "
                "server/bare %.2f\n",
                n, MiB(double(ex.bytes.size())), bestBare, bestServer, bestServer / bestBare);
    return true;
}

// Waits until the server has filled the stalled sockets: the unread bytes
// stop growing for a second.
std::int64_t WaitFilled(const HeldConnections& held) {
    std::int64_t last = -1;
    int still = 0;
    for (int i = 0; i < 120 && still < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const std::int64_t now = held.Unread();
        still = now == last ? still + 1 : 0;
        last = now;
    }
    return last;
}

bool BesideStalled(const Options& o, const std::string& content, ServerProcess& server) {
    Exchange ex;
    std::string error;
    if (!WaveExchange(o, content, o.stalledClients, ex, error)) {
        std::printf("FAILED: %s\n", error.c_str());
        return false;
    }
    const int n = o.stalledClients;
    double alone = 1e9, beside = 1e9;
    auto wave = [&](double& best) {
        const WaveResult w = RunWave(server.Address(), n, ex, 300);
        best = std::min(best, w.seconds);
        return Check(w, "server");
    };
    if (!wave(alone))
        return false;
    const long kernelBefore = KernelTcpKb();
    HeldConnections stalled;
    if (!stalled.Open(server.Address(), o.stalled, HeldConnections::Kind::Stalled, ex, 120,
                      error)) {
        std::printf("FAILED: stalled connections: %s\n", error.c_str());
        return false;
    }
    const std::int64_t unread = WaitFilled(stalled);
    const long kernelStalled = KernelTcpKb();
    if (!wave(beside) || !wave(beside))
        return false;
    stalled.CloseAll();
    if (!wave(alone))
        return false;
    std::printf("%6d clients: last done after %.3f s alone, %.3f s beside %d stalled "
                "connections: %.2f x\n",
                n, alone, beside, o.stalled, beside / alone);
    std::string lowat;
    tvserver::ReadSmallFile("/proc/sys/net/ipv4/tcp_notsent_lowat", lowat);
    std::printf("        (unread in the stalled sockets %.0f KiB each; kernel TCP memory, both "
                "ends, %.0f KiB per stalled connection; net.ipv4.tcp_notsent_lowat = %s)\n",
                double(unread) / 1024 / o.stalled, double(kernelStalled - kernelBefore) / o.stalled,
                lowat.substr(0, lowat.find('\n')).c_str());
    return true;
}

const std::vector<std::string> ServerArgs(const Options& o) {
    // Every client is 127.0.0.1 here, and deadlines must not end the quiet
    // connections while they are measured.
    return {"--threads",         std::to_string(o.serverThreads),
            "--max-per-address", "0",
            "--max-connections", "30000",
            "--request-timeout", "3600",
            "--stall-timeout",   "3600",
            "--status-interval", "0",
            "--grace",           "5"};
}

bool IdleMemory(const Options& o, const std::string& dir) {
    ServerProcess server;
    std::string error;
    Exchange ex;
    const std::uint32_t pair[2] = {0, 0};
    if (!LoadExchange(dir + "/content", pair, false, ex, error) ||
        !server.Start(o.server, ServerArgs(o), dir + "/content", dir + "/idle-server.log", error)) {
        std::printf("FAILED: %s\n", error.c_str());
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = server.RssKb();
    const long slabBefore = KernelSlabKb();
    HeldConnections idle;
    if (!idle.Open(server.Address(), o.idle, HeldConnections::Kind::Idle, ex, 300, error)) {
        std::printf("FAILED: idle connections: %s\n", error.c_str());
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long after = server.RssKb();
    const long slabAfter = KernelSlabKb();
    std::printf("%6d idle connections: server RSS %ld -> %ld KiB, %.2f KiB per connection\n"
                "        (kernel slab, both ends and machine-wide: %.2f KiB per connection)\n",
                o.idle, before, after, double(after - before) / o.idle,
                double(slabAfter - slabBefore) / o.idle);
    idle.CloseAll();
    if (!server.Stop(error)) {
        std::printf("FAILED: %s\n", error.c_str());
        return false;
    }
    return true;
}

// The server keeps two descriptors per connection (its socket and a body
// file) and a few spare, so the descriptor limit caps the idle phase.
int IdleWithinLimit(int wanted, long limit) {
    const long fit = (limit - 100) / 2;
    if (wanted <= fit)
        return wanted;
    std::printf("note: the descriptor limit here is %ld and cannot be raised (it needs "
                "CAP_SYS_RESOURCE), so the server holds at most about %ld connections: "
                "measuring %ld idle ones\n",
                limit, fit, fit);
    return static_cast<int>(std::max(0L, fit));
}

int RunBench(Options o) {
    const long want = 2L * std::max(o.idle, o.stalled + o.stalledClients) + 1000;
    const long limit = RaiseDescriptorLimit(want);
    o.idle = IdleWithinLimit(o.idle, limit);
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/load-bench.XXXXXX";
    if (!::mkdtemp(dir.data())) {
        std::printf("FAILED: cannot make a scratch directory: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string content = dir + "/content";
    std::string error;
    std::printf("load-bench: scratch %s; load average %s\n", dir.c_str(), LoadAverage().c_str());
    bool ok = MakeContent(content, error);
    if (!ok)
        std::printf("FAILED: %s\n", error.c_str());
    if (ok && !(o.clients.empty() && o.stalled == 0)) {
        ServerProcess server;
        ok = server.Start(o.server, ServerArgs(o), content, dir + "/server.log", error);
        if (!ok)
            std::printf("FAILED: %s\n", error.c_str());
        std::printf("throughput over loopback, best of %d waves each (server --threads %d):\n",
                    o.rounds, o.serverThreads);
        for (std::size_t i = 0; ok && i < o.clients.size(); ++i) {
            ok = Throughput(o, content, server, o.clients[i]);
            std::fflush(stdout);
        }
        if (ok && o.stalled > 0)
            ok = BesideStalled(o, content, server);
        if (ok && !server.Stop(error)) {
            std::printf("FAILED: %s\n", error.c_str());
            ok = false;
        }
    }
    if (ok && o.idle > 0)
        ok = IdleMemory(o, dir);
    std::printf("load average at the end %s\n", LoadAverage().c_str());
    if (o.keep || !ok)
        std::printf("scratch directory kept: %s\n", dir.c_str());
    else
        tvserver::RemoveTree(dir);
    return ok ? 0 : 1;
}

int RunVerify(const Options& o) {
    sockaddr_in target{};
    if (!ParseAddress(o.connect, target))
        Usage("--connect takes ADDR:PORT, e.g. 127.0.0.1:43001");
    if (o.content.empty())
        Usage("verify needs --content DIR (the content directory the servers publish)");
    RaiseDescriptorLimit(o.verifyClients + 1000L);
    Exchange ex;
    std::string error;
    if (!LoadExchange(o.content, o.pair, o.limited, ex, error)) {
        std::fprintf(stderr, "load-bench: %s\n", error.c_str());
        return 2;
    }
    const WaveResult w = RunWave(target, o.verifyClients, ex, o.timeoutS);
    std::printf("%d/%d clients complete: %zu files, %zu bytes each, byte for byte as snapshot "
                "%u owes pair %u,%u; %.3f s, %.1f MiB/s in all\n",
                w.completed, w.clients, ex.files.size(), ex.bytes.size(), ex.snapshotId, o.pair[0],
                o.pair[1], w.seconds, w.seconds > 0 ? MiB(double(w.bytes)) / w.seconds : 0.0);
    for (const std::string& e : w.errors)
        std::printf("  %s\n", e.c_str());
    return w.failed() == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    bool verify = false;
    const Options o = Parse(argc, argv, verify);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return verify ? RunVerify(o) : RunBench(o);
}
