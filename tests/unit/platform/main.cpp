// Test entry. The process tests start this binary again as the child program;
// TV_CHILD_REPORT then names the file the child writes its arguments and
// current directory to, one per line, instead of running the tests.
// TV_TERMINAL_CHILD runs the terminal front end's side of its smoke test.
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

int RunTerminalChild(const char* mode);

int main(int argc, char** argv) {
    if (const char* mode = std::getenv("TV_TERMINAL_CHILD"))
        return RunTerminalChild(mode);
    if (const char* report = std::getenv("TV_CHILD_REPORT")) {
        FILE* f = std::fopen(report, "w");
        if (!f)
            return 2;
        char cwd[4096];
        std::fprintf(f, "%s\n", getcwd(cwd, sizeof cwd) ? cwd : "?");
        for (int i = 1; i < argc; ++i)
            std::fprintf(f, "%s\n", argv[i]);
        std::fclose(f);
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
