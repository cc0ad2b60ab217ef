// The server's log lines and counters (a Linux tool: POSIX is fine).
#include "server_log.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace tvserver {

std::int64_t MonotonicMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::string UtcStamp() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    tm parts{};
    ::gmtime_r(&t.tv_sec, &parts);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(text + n, sizeof text - n, ".%03ldZ", t.tv_nsec / 1000000);
    return text;
}

void LogLine(const std::string& text) {
    const std::string line = UtcStamp() + " " + text + "\n";
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(1, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a log that cannot be written must not stop the serving
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

std::string StatusText(const Counters& c) {
    return "status open=" + std::to_string(c.open.load()) +
           " accepted=" + std::to_string(c.accepted.load()) +
           " served=" + std::to_string(c.served.load()) +
           " refused=" + std::to_string(c.refused.load()) +
           " dropped=" + std::to_string(c.dropped.load()) +
           " failed=" + std::to_string(c.failed.load()) +
           " bytes=" + std::to_string(c.bytes.load());
}

} // namespace tvserver
