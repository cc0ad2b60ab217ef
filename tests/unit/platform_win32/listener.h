// A loopback listening socket for tests: plain blocking Windows Sockets on
// any free port. A connection is taken by the backlog until Accept.
#pragma once

#include "platform/wintypes.h"

class Listener {
  public:
    Listener() {
        m_s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(m_s, 8);
        int len = sizeof a;
        getsockname(m_s, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~Listener() { closesocket(m_s); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    UINT Port() const { return m_port; }
    SOCKET Accept() { return accept(m_s, nullptr, nullptr); }

  private:
    SOCKET m_s;
    UINT m_port = 0;
};
