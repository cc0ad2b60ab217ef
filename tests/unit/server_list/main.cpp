// Test entry: this thread is the user-interface thread, with an application
// object and the client's resources in place (the dialog tests need them).
#include "platform/app.h"
#include "ui/resource.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <string>
#else
#include "platform/host/event_loop.h"
#endif

#ifdef _WIN32
namespace {

// Started by the dialog under test as the game ("-Update /IP:..."): writes
// its command line after the program name to args.txt in its current
// directory, in one step, and ends.
int RecordGameStart() {
    std::string line = GetCommandLineA();
    const size_t args = line.find("-Update");
    line.erase(0, args);
    FILE* f = std::fopen("args.tmp", "wb");
    if (!f)
        return 1;
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
    return MoveFileExA("args.tmp", "args.txt", MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}

} // namespace
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    if (argc > 1 && std::string(argv[1]) == "-Update")
        return RecordGameStart();
#else
    tvhost::BindUiThread();
    tvhost::SetAppName("torvane-update");
#endif
    ::testing::InitGoogleTest(&argc, argv);
    CWinApp app;
    RegisterUpdateResources();
    return RUN_ALL_TESTS();
}
