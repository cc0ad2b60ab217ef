// Host backend: the program entry. Names the application after its
// executable, hands it the command line after the program name (quoted as on
// Windows), chooses the front end and runs the application's start-up.
#include "platform/app.h"
#include "platform/host/cmdline.h"
#include "platform/host/event_loop.h"
#include "platform/host/frontend.h"
#include "platform/host/frontends.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string AppNameFromPath(const char* argv0) {
    std::string name = argv0 ? argv0 : "";
    std::string::size_type slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

} // namespace

int main(int argc, char** argv) {
    tvhost::BindUiThread();
    tvhost::SetAppName(AppNameFromPath(argc > 0 ? argv[0] : nullptr).c_str());
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    tvhost::SetCommandLine(tvhost::JoinArguments(args).c_str());
    CWinApp* app = AfxGetApp();
    if (!app) {
        std::fprintf(stderr, "%s: no application object\n", argc > 0 ? argv[0] : "?");
        return 1;
    }
    tvhost::SetFrontEnd(tvhost::ChooseFrontEnd());
    app->InitInstance();
    app->ExitInstance();
    tvhost::SetFrontEnd(nullptr);
    return 0;
}
