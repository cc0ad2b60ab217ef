// Child processes for the end-to-end tests: run to completion with captured
// output, or keep a server running until the test ends.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tvtest {

struct RunResult {
    int exitCode = -1; // -1: killed by a signal or timed out
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs argv in dir with stdin from /dev/null and stdout/stderr piped.
RunResult RunProcess(const std::vector<std::string>& argv, const std::string& dir,
                     int timeoutMs = 30000);

// torvane-update-server on addr:port (0: a free one), serving contentDir.
class ServerProcess {
  public:
    ServerProcess(const std::string& contentDir, const std::string& addr = "127.0.0.1",
                  unsigned port = 0, bool once = true, const std::vector<std::string>& extra = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    unsigned Port() const { return m_port; }
    pid_t Pid() const { return m_pid; }
    // What it printed so far (reads what is waiting, up to waitMs for more).
    const std::string& Output(int waitMs = 0);
    // Reads its output until it holds text or timeoutMs passes.
    bool WaitFor(const std::string& text, int timeoutMs = 10000);
    // Waits for the server to exit (it does after one client with --once)
    // and returns what it printed.
    std::string Finish(int timeoutMs = 10000);

  private:
    pid_t m_pid = -1;
    int m_outFd = -1;
    unsigned m_port = 0;
    std::string m_out;
};

// The body the server sends for name, from the snapshot published for
// contentDir ("" when there is none).
std::string PublishedBody(const std::string& contentDir, const std::string& name);

} // namespace tvtest
