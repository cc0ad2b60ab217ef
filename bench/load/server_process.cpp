// Starting, watching and stopping the server under measurement.
#include "server_process.h"

#include "clients.h"
#include "store_files.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace loadbench {

namespace {

bool WaitExit(pid_t pid, double timeoutS, int& status) {
    const double deadline = NowSeconds() + timeoutS;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
        if (NowSeconds() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

bool ServerProcess::Start(const std::string& exe, const std::vector<std::string>& args,
                          const std::string& contentDir, const std::string& logPath,
                          std::string& error) {
    m_logPath = logPath;
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) {
        error = "cannot create " + logPath + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::string> argv = {exe, "serve", "--bind", "127.0.0.1", "--port", "0"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(contentDir);
    m_pid = ::fork();
    if (m_pid == 0) {
        // An interrupted benchmark must not leave the server running.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(log, 1);
        ::dup2(log, 2);
        std::vector<char*> v;
        for (const std::string& a : argv)
            v.push_back(const_cast<char*>(a.c_str()));
        v.push_back(nullptr);
        ::execv(v[0], v.data());
        ::_exit(127);
    }
    ::close(log);
    const double deadline = NowSeconds() + 60;
    while (NowSeconds() < deadline) {
        std::string text;
        tvserver::ReadSmallFile(logPath, text);
        const std::size_t at = text.find("listening on ");
        const std::size_t colon = at == std::string::npos ? at : text.find(':', at);
        if (colon != std::string::npos && text.find('\n', colon) != std::string::npos) {
            m_addr.sin_family = AF_INET;
            m_addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            m_addr.sin_port = htons(static_cast<std::uint16_t>(std::stoul(text.substr(colon + 1))));
            return true;
        }
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            error = "the server exited at start:\n" + text;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error = "the server did not say where it listens within 60 s";
    return false;
}

long ServerProcess::RssKb() const {
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/status");
    std::string key;
    long value = -1;
    while (in >> key) {
        if (key == "VmRSS:" && in >> value)
            return value;
        in.ignore(1 << 20, '\n');
    }
    return -1;
}

bool ServerProcess::Stop(std::string& error) {
    if (m_pid <= 0)
        return true;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    const bool exited = WaitExit(m_pid, 60, status);
    if (!exited) {
        ::kill(m_pid, SIGKILL);
        WaitExit(m_pid, 10, status);
    }
    m_pid = -1;
    if (!exited)
        error = "the server did not stop within 60 s of SIGTERM";
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        error = "the server ended with status " + std::to_string(status);
    return exited && error.empty();
}

ServerProcess::~ServerProcess() {
    std::string ignored;
    Stop(ignored);
}

} // namespace loadbench
