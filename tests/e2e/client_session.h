// One run of torvane-update that a test can watch and steer while it runs:
// its answer on stdin, signals, and a pseudo-terminal instead of pipes when
// the terminal interface is under test.
#pragma once

#include "child_process.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tvtest {

struct SessionOptions {
    std::string input;            // written to stdin, which is then closed (pipes only)
    bool holdInput = false;       // stdin stays open after the input, until the end
    std::vector<std::string> env; // "NAME=value" added to the environment
    bool terminal = false;        // stdin, stdout and stderr on a pseudo-terminal
};

class ClientSession {
  public:
    ClientSession(const std::vector<std::string>& argv, const std::string& dir,
                  const SessionOptions& options);
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    bool Started() const { return m_pid > 0; }
    // Collects output until cond holds (true) or timeoutMs passes (false).
    bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 10000);
    void Signal(int sig);
    // Types keys on the terminal; false when not a terminal session or the
    // write failed.
    bool Type(const std::string& keys);
    // Waits for the exit (killing the run after timeoutMs) and returns its
    // output; on a terminal, everything drawn is in out.
    RunResult Finish(int timeoutMs = 30000);
    // The terminal's local modes (c_lflag) as the run left them; false when
    // not a terminal session or not finished.
    bool TerminalModesAtExit(unsigned& lflag) const;

    const std::string& Out() const { return m_result.out; }

  private:
    void Pump(int timeoutMs);

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    int m_inFd = -1; // stdin held open
    bool m_terminal = false;
    bool m_outEnded = false; // the terminal's output has ended
    bool m_reaped = false;
    bool m_haveModes = false;
    unsigned m_lflagAtExit = 0;
    RunResult m_result;
};

} // namespace tvtest
