// The yardstick: a minimal epoll sender in its own process that gives every
// connection the version reply, waits for the 9-byte request and sends the
// rest of one exchange from memory. No snapshot, no deadlines, no logging:
// what the kernel and loopback allow, against which the server is measured.
#pragma once

#include "exchange.h"

#include <netinet/in.h>
#include <string>
#include <sys/types.h>

namespace loadbench {

class BareSender {
  public:
    BareSender() = default;
    ~BareSender();
    BareSender(const BareSender&) = delete;
    BareSender& operator=(const BareSender&) = delete;

    // Listens on 127.0.0.1 (a free port) and serves ex to every connection
    // until destroyed.
    bool Start(const Exchange& ex, std::string& error);
    const sockaddr_in& Address() const { return m_addr; }

  private:
    pid_t m_pid = -1;
    sockaddr_in m_addr{};
};

} // namespace loadbench
