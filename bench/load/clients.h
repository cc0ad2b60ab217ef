// The client side of the load generator: many connections on one epoll
// loop, each parsing its stream as the update client does and comparing it
// byte for byte with what it is owed.
#pragma once

#include "exchange.h"

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <vector>

namespace loadbench {

struct WaveResult {
    int clients = 0;
    int completed = 0;
    std::int64_t bytes = 0;          // received by the clients that completed
    double seconds = 0;              // from the first connect to the last completed client
    std::vector<std::string> errors; // the first few failures, one line each
    int failed() const { return clients - completed; }
};

// `clients` connections at once (connects paced so the listen queue never
// overflows), each sending ex.pair and taking the whole exchange, then the
// server's close. Returns when all have completed or failed, or at timeout.
WaveResult RunWave(const sockaddr_in& target, int clients, const Exchange& ex, double timeoutS);

// Connections that take the version reply and then go quiet: Idle ones never
// send the version request; Stalled ones send it and never read again.
class HeldConnections {
  public:
    enum class Kind { Idle, Stalled };
    HeldConnections() = default;
    ~HeldConnections() { CloseAll(); }
    HeldConnections(const HeldConnections&) = delete;
    HeldConnections& operator=(const HeldConnections&) = delete;

    // False with a message unless all n reached their quiet state.
    bool Open(const sockaddr_in& target, int n, Kind kind, const Exchange& ex, double timeoutS,
              std::string& error);
    // Bytes the server has pushed into these sockets and nobody has read.
    std::int64_t Unread() const;
    void CloseAll();
    std::size_t Count() const { return m_fds.size(); }

  private:
    std::vector<int> m_fds;
};

// Raises this process's descriptor limit (soft and, as root, hard) to at
// least want; returns the soft limit in force.
long RaiseDescriptorLimit(long want);

double NowSeconds();

} // namespace loadbench
