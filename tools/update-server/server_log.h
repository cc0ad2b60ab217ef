// The server's log: one line per event on standard output, each stamped with
// the UTC time and written with a single write(2), so lines from several
// threads never mix and nothing waits in a buffer when the process ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace tvserver {

// Milliseconds on the monotonic clock, for deadlines and durations.
std::int64_t MonotonicMs();
// "2025-06-01T12:00:00.123Z"
std::string UtcStamp();
void LogLine(const std::string& text);

// Counters for the status line; updated by the workers, read by the control
// thread.
struct Counters {
    std::atomic<std::int64_t> open{0};
    std::atomic<std::int64_t> accepted{0};
    std::atomic<std::int64_t> served{0};  // lists sent whole
    std::atomic<std::int64_t> refused{0}; // over a connection cap
    std::atomic<std::int64_t> dropped{0}; // past a deadline
    std::atomic<std::int64_t> failed{0};  // lost or cut while sending
    std::atomic<std::int64_t> bytes{0};
    std::atomic<std::int64_t> logSuppressed{0}; // refusals not logged one by one
};

std::string StatusText(const Counters& c);

} // namespace tvserver
