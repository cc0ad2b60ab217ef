// A watched run of the client (test code: POSIX is fine).
#include "client_session.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace tvtest {

namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

[[noreturn]] void ExecIn(const std::vector<std::string>& argv, const std::string& dir,
                         const std::vector<std::string>& env) {
    for (const std::string& e : env)
        ::putenv(const_cast<char*>(e.c_str()));
    if (!dir.empty() && ::chdir(dir.c_str()) != 0)
        ::_exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

} // namespace

ClientSession::ClientSession(const std::vector<std::string>& argv, const std::string& dir,
                             const SessionOptions& options) {
    if (options.terminal) {
        winsize ws{30, 100, 0, 0};
        std::vector<std::string> env = options.env;
        env.push_back("TERM=xterm");
        m_terminal = true;
        m_pid = ::forkpty(&m_outFd, nullptr, nullptr, &ws);
        if (m_pid == 0)
            ExecIn(argv, dir, env);
        return;
    }
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ExecIn(argv, dir, options.env);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    std::signal(SIGPIPE, SIG_IGN);
    ssize_t w = ::write(in[1], options.input.data(), options.input.size());
    (void)w;
    if (options.holdInput)
        m_inFd = in[1];
    else
        ::close(in[1]);
    m_outFd = out[0];
    m_errFd = err[0];
}

ClientSession::~ClientSession() {
    if (m_pid > 0 && !m_reaped) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_outFd >= 0)
        ::close(m_outFd);
    if (m_errFd >= 0)
        ::close(m_errFd);
    if (m_inFd >= 0)
        ::close(m_inFd);
}

void ClientSession::Pump(int timeoutMs) {
    pollfd p[2] = {{m_outEnded ? -1 : m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    if (::poll(p, 2, timeoutMs) <= 0)
        return;
    int* fds[2] = {&m_outFd, &m_errFd};
    std::string* sinks[2] = {&m_result.out, &m_result.err};
    for (int i = 0; i < 2; ++i) {
        if (p[i].revents == 0)
            continue;
        char buf[4096];
        const ssize_t n = ::read(*fds[i], buf, sizeof buf);
        if (n > 0) {
            sinks[i]->append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            // End of stream; a pseudo-terminal reports EIO once its slave is
            // gone, and stays open so its modes can still be read.
            if (m_terminal && i == 0) {
                m_outEnded = true;
                continue;
            }
            ::close(*fds[i]);
            *fds[i] = -1;
        }
    }
}

bool ClientSession::WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
    const std::int64_t deadline = NowMs() + timeoutMs;
    while (!cond()) {
        if (NowMs() >= deadline)
            return false;
        Pump(20);
    }
    return true;
}

void ClientSession::Signal(int sig) {
    if (m_pid > 0)
        ::kill(m_pid, sig);
}

bool ClientSession::Type(const std::string& keys) {
    return m_terminal && m_outFd >= 0 &&
           ::write(m_outFd, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
}

RunResult ClientSession::Finish(int timeoutMs) {
    const std::int64_t deadline = NowMs() + timeoutMs;
    int status = 0;
    bool exited = false;
    while (!exited) {
        if (NowMs() >= deadline) {
            m_result.timedOut = true;
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_reaped = true;
            return m_result;
        }
        Pump(20);
        exited = ::waitpid(m_pid, &status, WNOHANG) == m_pid;
    }
    m_reaped = true;
    termios t{};
    if (m_terminal && ::tcgetattr(m_outFd, &t) == 0) {
        m_haveModes = true;
        m_lflagAtExit = static_cast<unsigned>(t.c_lflag);
    }
    // What the run wrote last is still in the pipes (or the terminal).
    for (int i = 0; i < 50 && ((m_outFd >= 0 && !m_outEnded) || m_errFd >= 0); ++i)
        Pump(20);
    m_result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m_result;
}

bool ClientSession::TerminalModesAtExit(unsigned& lflag) const {
    lflag = m_lflagAtExit;
    return m_haveModes;
}

} // namespace tvtest
