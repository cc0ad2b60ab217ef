// Test entry: this thread is the user-interface thread, with an application
// object (named after the test executable, the message box caption).
#include "platform/app.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    CWinApp app;
    return RUN_ALL_TESTS();
}
