#include "private_netns.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tvtest {

namespace {

bool HaveTools() {
    return fs::exists("/usr/bin/unshare") &&
           (fs::exists("/usr/sbin/ip") || fs::exists("/sbin/ip") || fs::exists("/usr/bin/ip"));
}

// Runs a shell command, returns its exit code and what it printed.
int Capture(const std::string& command, std::string& out) {
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

bool InsidePrivateNetns(const char* lpszEnv) {
    return std::getenv(lpszEnv) != nullptr;
}

bool RerunInPrivateNetns(const char* lpszEnv, std::string& why) {
    if (::geteuid() != 0 || !HaveTools()) {
        why = "needs root, unshare and ip to make a private network namespace";
        return false;
    }
    std::string probe;
    if (Capture("unshare -n true", probe) != 0) {
        why = "unshare -n is not permitted here: " + probe;
        return false;
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter =
        std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string script = std::string("ip link set lo up && ip route replace local "
                                           "127.0.0.0/8 dev lo table local proto kernel scope "
                                           "host src 127.0.0.2 && ") +
                               lpszEnv + "=1 exec \"$0\" \"$1\"";
    std::string out;
    const int code =
        Capture("unshare -n /bin/sh -c '" + script + "' '" + self + "' '" + filter + "'", out);
    EXPECT_EQ(code, 0) << "the test failed inside the namespace:\n" << out;
    // A filter that matched nothing would also exit 0.
    EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
    return true;
}

} // namespace tvtest
