// Child processes of the end-to-end tests (test code: POSIX is fine).
#include "child_process.h"

#include "snapshot.h"
#include "store_files.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tvtest {

namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& dir, int outFd, int errFd) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    if (!dir.empty() && ::chdir(dir.c_str()) != 0)
        ::_exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

// Reads whatever is available from fd into out; false at end of stream.
bool Drain(int fd, std::string& out) {
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0)
        out.append(buf, static_cast<std::size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

int WaitExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

RunResult RunProcess(const std::vector<std::string>& argv, const std::string& dir, int timeoutMs) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = Spawn(argv, dir, out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);
    RunResult r;
    bool outOpen = true, errOpen = true;
    const std::int64_t deadline = NowMs() + timeoutMs;
    while (outOpen || errOpen) {
        const std::int64_t left = deadline - NowMs();
        if (left <= 0) {
            r.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd p[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (::poll(p, 2, static_cast<int>(left)) <= 0)
            continue;
        if (p[0].revents)
            outOpen = Drain(out[0], r.out);
        if (p[1].revents)
            errOpen = Drain(err[0], r.err);
    }
    ::close(out[0]);
    ::close(err[0]);
    r.exitCode = WaitExit(pid);
    if (r.timedOut)
        r.exitCode = -1;
    return r;
}

ServerProcess::ServerProcess(const std::string& contentDir, const std::string& addr, unsigned port,
                             bool once, const std::vector<std::string>& extra) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> argv = {TV_SERVER_EXE, "--bind", addr, "--port", std::to_string(port)};
    if (once)
        argv.push_back("--once");
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(contentDir);
    m_pid = Spawn(argv, "", out[1], out[1]);
    ::close(out[1]);
    m_outFd = out[0];
    // A line says where it listens, after any lines of a first publish; an
    // error ends the process instead.
    const std::int64_t deadline = NowMs() + 30000;
    std::string::size_type at = std::string::npos;
    while (NowMs() < deadline) {
        at = m_out.find("listening on ");
        if (at != std::string::npos && m_out.find('\n', at) != std::string::npos)
            break;
        pollfd p{m_outFd, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0 && !Drain(m_outFd, m_out))
            break;
    }
    const std::string::size_type colon =
        at == std::string::npos ? std::string::npos : m_out.find(':', at);
    if (colon != std::string::npos)
        m_port = static_cast<unsigned>(std::stoul(m_out.substr(colon + 1)));
}

std::string ServerProcess::Finish(int timeoutMs) {
    const std::int64_t deadline = NowMs() + timeoutMs;
    while (m_outFd >= 0 && NowMs() < deadline) {
        pollfd p{m_outFd, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0 && !Drain(m_outFd, m_out)) {
            ::close(m_outFd);
            m_outFd = -1;
        }
    }
    return m_out;
}

const std::string& ServerProcess::Output(int waitMs) {
    const std::int64_t deadline = NowMs() + waitMs;
    do {
        pollfd p{m_outFd, POLLIN, 0};
        if (m_outFd >= 0 && ::poll(&p, 1, 10) > 0 && !Drain(m_outFd, m_out)) {
            ::close(m_outFd);
            m_outFd = -1;
        }
    } while (NowMs() < deadline);
    return m_out;
}

bool ServerProcess::WaitFor(const std::string& text, int timeoutMs) {
    const std::int64_t deadline = NowMs() + timeoutMs;
    while (m_out.find(text) == std::string::npos && NowMs() < deadline && m_outFd >= 0)
        Output(0);
    return m_out.find(text) != std::string::npos;
}

std::string PublishedBody(const std::string& contentDir, const std::string& name) {
    std::string error, body;
    const auto snapshot = tvserver::Snapshot::LoadCurrent(tvserver::StorePath(contentDir), error);
    for (std::size_t i = 0; snapshot && i < snapshot->Files().size(); ++i)
        if (snapshot->Files()[i].name == name &&
            tvserver::ReadSmallFile(snapshot->BodyPath(i), body))
            return body;
    return "";
}

ServerProcess::~ServerProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        WaitExit(m_pid);
    }
    if (m_outFd >= 0)
        ::close(m_outFd);
}

} // namespace tvtest
