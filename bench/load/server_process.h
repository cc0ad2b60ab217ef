// torvane-update-server as a child process under measurement: its log goes
// to a file (so a slow reader never holds up its unbuffered writes), its
// port is read from the log, its memory from /proc.
#pragma once

#include <netinet/in.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace loadbench {

class ServerProcess {
  public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Runs exe serve with args on 127.0.0.1 and a free port, content last;
    // returns once it says where it listens.
    bool Start(const std::string& exe, const std::vector<std::string>& args,
               const std::string& contentDir, const std::string& logPath, std::string& error);
    const sockaddr_in& Address() const { return m_addr; }
    // Resident memory in KiB, -1 when unknown.
    long RssKb() const;
    // SIGTERM and wait; false with a message when it had to be killed or
    // did not exit with 0.
    bool Stop(std::string& error);

  private:
    pid_t m_pid = -1;
    std::string m_logPath;
    sockaddr_in m_addr{};
};

} // namespace loadbench
