// Test entry: the client's own application object, as the program has it;
// this thread is the user-interface thread.
#include "app/update_app.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    CUpdateApp app;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
