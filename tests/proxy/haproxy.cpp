// Running HAProxy for the proxy tests (test code: POSIX is fine).
#include "haproxy.h"

#include "temp_dir.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tvtest {

namespace {

sockaddr_in Address(const std::string& addr, unsigned port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, addr.c_str(), &a.sin_addr);
    return a;
}

bool Accepts(const std::string& addr, unsigned port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = Address(addr, port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// The configuration of docs/operations.md, with the check interval short so
// a test does not wait for it.
std::string Config(const std::string& bindAddr, unsigned port,
                   const std::vector<std::string>& servers) {
    std::string text = "global\n"
                       "    maxconn 4000\n"
                       "defaults\n"
                       "    mode tcp\n"
                       "    timeout connect 5s\n"
                       "    timeout client 75s\n"
                       "    timeout server 75s\n"
                       "frontend updates\n"
                       "    bind " +
                       bindAddr + ":" + std::to_string(port) +
                       "\n"
                       "    default_backend pool\n"
                       "backend pool\n"
                       "    balance roundrobin\n"
                       "    option tcp-check\n"
                       "    tcp-check connect\n"
                       "    tcp-check expect rbinary ^01\n";
    for (std::size_t i = 0; i < servers.size(); ++i)
        text += "    server s" + std::to_string(i + 1) + " " + servers[i] + " check inter 1s\n";
    return text;
}

} // namespace

std::string Haproxy::Binary() {
    for (const char* path : {"/usr/sbin/haproxy", "/usr/local/sbin/haproxy", "/usr/bin/haproxy"})
        if (::access(path, X_OK) == 0)
            return path;
    return "";
}

unsigned FreePort(const std::string& addr) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Address(addr, 0);
    socklen_t len = sizeof a;
    unsigned port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

Haproxy::Haproxy(const std::string& dir, const std::string& bindAddr, unsigned port,
                 const std::vector<std::string>& servers)
    : m_dir(dir), m_bindAddr(bindAddr), m_port(port) {
    const std::string config = dir + "/haproxy.cfg";
    TempWorkDir::Write(config, Config(bindAddr, port, servers));
    const std::string binary = Binary();
    const int out = ::open((dir + "/haproxy.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    m_pid = ::fork();
    if (m_pid == 0) {
        // A test that dies must not leave the proxy holding its port.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execl(binary.c_str(), binary.c_str(), "-db", "-f", config.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out);
}

bool Haproxy::WaitReady(std::string& why) {
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (m_pid <= 0 || ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            break;
        }
        if (Accepts(m_bindAddr, m_port))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why = "HAProxy did not start listening:\n" + TempWorkDir::Read(m_dir + "/haproxy.out");
    return false;
}

Haproxy::~Haproxy() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace tvtest
