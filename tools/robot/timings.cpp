// When things happened during a run (--timings FILE): the moments the robot
// saw the client's windows change and acted on them, and how far apart its
// looks at the windows were, for the benchmark that times an update phase by
// phase. The file is written once, when the client has ended.
#include "robot.h"

#include <array>
#include <cstdio>

namespace robot {

namespace {

// Gaps in whole milliseconds; the last bucket holds everything longer.
constexpr size_t kBuckets = 1001;
// Steps further apart than this are recorded one by one.
constexpr double kSlowStepMs = 25;

class Histogram {
  public:
    void Add(double ms) {
        const size_t at = ms < 0 ? 0 : static_cast<size_t>(ms);
        ++m_counts[at < kBuckets ? at : kBuckets - 1];
        ++m_total;
        if (ms > m_max)
            m_max = ms;
    }
    // The smallest whole millisecond at or below which share of the gaps lie.
    size_t Percentile(double share) const {
        const double wanted = share * static_cast<double>(m_total);
        unsigned long long seen = 0;
        for (size_t i = 0; i < kBuckets; ++i) {
            seen += m_counts[i];
            if (static_cast<double>(seen) >= wanted)
                return i + 1;
        }
        return kBuckets;
    }
    std::string Line(const char* name) const {
        char text[160];
        std::snprintf(text, sizeof text, "stat %s count %llu max %.1f p99 %zu p50 %zu\n", name,
                      m_total, m_max, Percentile(0.99), Percentile(0.5));
        return text;
    }

  private:
    std::array<unsigned long long, kBuckets> m_counts{};
    unsigned long long m_total = 0;
    double m_max = 0;
};

struct Record {
    std::wstring path; // empty: nothing is recorded
    double frequency = 1;
    LONGLONG start = 0;
    std::string events;
    double lastLook = -1, lastStep = -1, stepStart = 0;
    double longestWait = 0, lastStepDuration = 0; // since the last step
    Histogram looks, steps, stepDurations;
};

Record g_record;

double Now() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart - g_record.start) * 1000.0 / g_record.frequency;
}

} // namespace

bool OpenTimings(const std::wstring& path) {
    // Made now, so a path that cannot be written fails before the client runs.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    g_record.path = path;
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_record.frequency = static_cast<double>(f.QuadPart);
    StartClock();
    return true;
}

void StartClock() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    g_record.start = c.QuadPart;
}

void Mark(const std::string& event) {
    if (g_record.path.empty())
        return;
    char ms[32];
    std::snprintf(ms, sizeof ms, "event %.1f ", Now());
    g_record.events += ms + event + "\n";
}

double ClockMs() {
    return g_record.path.empty() ? 0 : Now();
}

void NoteLook(double waitedMs) {
    if (g_record.path.empty())
        return;
    if (waitedMs > g_record.longestWait)
        g_record.longestWait = waitedMs;
    const double now = Now();
    if (g_record.lastLook >= 0)
        g_record.looks.Add(now - g_record.lastLook);
    g_record.lastLook = now;
}

void NoteStepStart() {
    if (g_record.path.empty())
        return;
    const double now = Now();
    const double gap = now - g_record.lastStep;
    if (g_record.lastStep >= 0) {
        g_record.steps.Add(gap);
        // Whose time it was: a wait of a few milliseconds that came back
        // late is the machine's (the robot was not run), a long step the
        // robot's own work.
        if (gap > kSlowStepMs) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "slow-step %.1f ms: longest wait %.1f ms, step before it %.1f ms", gap,
                          g_record.longestWait, g_record.lastStepDuration);
            Mark(text);
        }
    }
    g_record.longestWait = 0;
    g_record.lastStep = g_record.stepStart = now;
}

void NoteStepEnd() {
    if (g_record.path.empty())
        return;
    g_record.lastStepDuration = Now() - g_record.stepStart;
    g_record.stepDurations.Add(g_record.lastStepDuration);
}

void WriteTimings() {
    if (g_record.path.empty())
        return;
    const std::string text = "# torvane-robot timings: milliseconds from the client's start\n" +
                             g_record.events + g_record.looks.Line("look-interval") +
                             g_record.steps.Line("step-interval") +
                             g_record.stepDurations.Line("step-duration");
    HANDLE h = CreateFileW(g_record.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (h == INVALID_HANDLE_VALUE ||
        !WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size())
        Fail("cannot write the timings to " + Utf8(g_record.path));
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

} // namespace robot
