// One serving thread: an epoll loop over the listening socket and the
// connections it accepted. Each connection is a small state machine:
//
//   AwaitRequest  the version reply went out at accept; waits for the 9-byte
//                 version request until the request deadline
//   Sending       list header, then each file header and its body (sendfile
//                 from the snapshot's body file); dropped when the client's
//                 side takes no byte for the stall limit
//   Draining      everything queued and our side shut down; ends when the
//                 client has acknowledged every byte or closes
//
// Deadlines live in one list per kind, each ordered by deadline because every
// entry of a kind has the same timeout: arming is an append, progress a move
// to the tail, expiry a look at the head.
#pragma once

#include "server.h"

#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <string>

namespace tvserver {

struct Connection;

struct DeadlineList {
    Connection* head = nullptr;
    Connection* tail = nullptr;
};

class Worker {
  public:
    explicit Worker(ServerShared& shared);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    // Serves until told to stop and every connection has ended.
    void Run();

  private:
    enum ListKind { kRequestList, kProgressList, kDrainList, kListCount };

    void AcceptAll(std::int64_t now);
    void Refuse(int fd, const sockaddr_in& peer, const char* why);
    void Dispatch(Connection* c, std::uint32_t events, std::int64_t now);
    void OnRequestBytes(Connection* c, std::int64_t now);
    void StartList(Connection* c, std::int64_t now);
    void SendSome(Connection* c, std::int64_t now);
    bool StartNextFile(Connection* c);
    void FinishSending(Connection* c, std::int64_t now);
    void CheckDrain(Connection* c, std::int64_t now);
    bool DiscardInput(Connection* c);
    void Progress(Connection* c, std::int64_t now);
    void Expire(std::int64_t now);
    int WaitMs(std::int64_t now) const;
    void End(Connection* c, const std::string& outcome, bool reset, std::int64_t now);
    void EndAll(std::int64_t now);
    void Watch(Connection* c, std::uint32_t events);

    void Arm(Connection* c, ListKind kind, std::int64_t deadline);
    void Disarm(Connection* c);

    ServerShared& m_shared;
    int m_epfd = -1;
    bool m_listening = false;
    std::size_t m_count = 0;
    DeadlineList m_lists[kListCount];
};

} // namespace tvserver
