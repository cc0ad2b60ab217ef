// Win32 backend: the program entry of the windowed executable. The
// application object names itself after the executable and takes the command
// line (app.cpp); this binds the user-interface thread and runs its start-up.
#include "platform/app.h"
#include "platform/win32/event_loop.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tvwin32::BindUiThread();
    CWinApp* app = AfxGetApp();
    if (!app)
        return 1;
    app->InitInstance();
    app->ExitInstance();
    return 0;
}
