// Re-running one test in a private network namespace (as root), so the
// client's local address is not 127.0.0.1: lo is brought up and 127.0.0.2
// becomes the source address of every local route, so the client is
// 127.0.0.2 and test servers can listen on 127.0.0.3 and 127.0.0.4.
#pragma once

#include <gtest/gtest.h>
#include <string>

namespace tvtest {

// True in the copy of the test binary that runs inside the namespace.
bool InsidePrivateNetns(const char* lpszEnv);

// Outside: re-runs the current test inside a fresh namespace and records its
// result as failures of this test. False (with the reason) when it cannot.
bool RerunInPrivateNetns(const char* lpszEnv, std::string& why);

} // namespace tvtest

// At the top of a test body: outside the namespace, re-run the test there (or
// skip it with the reason) and return; inside, go on with the test.
#define RUN_IN_PRIVATE_NETNS(env)                                                                  \
    do {                                                                                           \
        if (!tvtest::InsidePrivateNetns(env)) {                                                    \
            std::string why_;                                                                      \
            if (!tvtest::RerunInPrivateNetns(env, why_))                                           \
                GTEST_SKIP() << why_;                                                              \
            return;                                                                                \
        }                                                                                          \
    } while (0)
