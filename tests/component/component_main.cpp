// Test entry for the component tests: this thread is the user-interface
// thread, with an application object and the client's resources in place.
#include "platform/app.h"
#include "platform/host/event_loop.h"
#include "platform/host/frontend.h"
#include "recorded_decompressor.h"
#include "ui/resource.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tvhost::BindUiThread();
    tvhost::SetAppName("torvane-update");
    CWinApp app;
    RegisterUpdateResources();
    tvtest::InstallRecordedDecompressor();
    return RUN_ALL_TESTS();
}
