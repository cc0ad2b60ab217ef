// Test entry: this thread is the user-interface thread, with an application
// object (named after the test executable, the message box caption).
#include "platform/app.h"

#include <gtest/gtest.h>
#include <string>

int ExitFromWorkerChild();

int main(int argc, char** argv) {
    CWinApp app;
    if (argc > 1 && std::string(argv[1]) == "--exit-from-worker")
        return ExitFromWorkerChild();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
