// Serving: a control thread (signals, status, snapshot switches) and worker
// threads that each run an epoll loop over their own connections.
#pragma once

#include "server_log.h"
#include "snapshot.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tvserver {

struct ServeOptions {
    std::string contentDir;
    std::string bindAddr = "127.0.0.1";
    unsigned port = 43001;
    bool once = false;
    int threads = 1;
    int requestTimeoutMs = 15000; // version request, counted from the reply
    int stallTimeoutMs = 60000;   // no byte taken by the client's side
    int graceMs = 30000;          // for running transfers after SIGTERM
    int maxConnections = 0;       // 0: as many as the descriptor limit allows
    int maxPerAddress = 64;       // 0: no limit
    int statusIntervalS = 60;     // 0: only on SIGUSR1
    bool limitLoopback = false;   // the 100 MiB rule for 127.0.0.1 too (a local proxy)
    bool noRedirect = false;      // a pool server sharing the main server's content
};

// Open connections in total and per client address.
class ConnectionLimits {
  public:
    ConnectionLimits(int total, int perAddress) : m_total(total), m_perAddress(perAddress) {}
    enum class Verdict { Admitted, OverTotal, OverAddress };
    Verdict Admit(std::uint32_t addr);
    void Release(std::uint32_t addr);

  private:
    std::mutex m_mutex;
    const int m_total, m_perAddress;
    int m_open = 0;
    std::unordered_map<std::uint32_t, int> m_byAddress;
};

// What the workers and the control thread share.
struct ServerShared {
    ServerShared(const ServeOptions& o, int total) : options(o), limits(total, o.maxPerAddress) {}

    std::shared_ptr<const Snapshot> CurrentSnapshot() {
        std::lock_guard<std::mutex> lock(snapshotMutex);
        return snapshot;
    }
    void SetSnapshot(std::shared_ptr<const Snapshot> s) {
        std::lock_guard<std::mutex> lock(snapshotMutex);
        snapshot = std::move(s);
    }

    const ServeOptions options;
    ConnectionLimits limits;
    Counters counters;
    int listenFd = -1;
    int wakeFd = -1; // eventfd: readable once the workers are to stop
    // 0 serving; 1 no new connections, transfers run until graceEndMs; 2 stop now.
    std::atomic<int> stopLevel{0};
    std::atomic<std::int64_t> graceEndMs{INT64_MAX};
    std::atomic<bool> onceTaken{false};
    std::mutex snapshotMutex;
    std::shared_ptr<const Snapshot> snapshot;
};

// Runs the server until SIGTERM/SIGINT (or one client with --once). Returns
// the process exit code.
int Serve(const ServeOptions& options);

} // namespace tvserver
