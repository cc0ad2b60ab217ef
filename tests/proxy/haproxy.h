// HAProxy as a child process in TCP mode in front of update servers, with
// the configuration docs/operations.md recommends (shortened timeouts aside).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tvtest {

class Haproxy {
  public:
    // The installed executable, or "" when there is none.
    static std::string Binary();

    // Listens on bindAddr:port and spreads connections round-robin over
    // servers ("ADDR:PORT" each), checking each by its version reply. Its
    // configuration and output live in dir.
    Haproxy(const std::string& dir, const std::string& bindAddr, unsigned port,
            const std::vector<std::string>& servers);
    ~Haproxy();
    Haproxy(const Haproxy&) = delete;
    Haproxy& operator=(const Haproxy&) = delete;

    // Waits until the frontend accepts connections; false with what HAProxy
    // printed when it does not.
    bool WaitReady(std::string& why);

  private:
    pid_t m_pid = -1;
    std::string m_dir, m_bindAddr;
    unsigned m_port = 0;
};

// A port nobody listens on at addr right now.
unsigned FreePort(const std::string& addr);

} // namespace tvtest
