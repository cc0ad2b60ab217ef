/* Holds the Wine session open between test runs: while one Windows process
 * lives, Wine's own service processes stay up, and later programs neither
 * start them again nor hand them their standard streams. Ends with the
 * session (wineserver -k). With any argument it returns at once: run to the
 * end, it shows that the session's service processes and the desktop are
 * up. */
#include <windows.h>

int main(int argc, char** argv) {
    (void)argv;
    if (argc > 1) {
        /* The desktop process too: asking for the desktop window starts it
         * here, with no caller's descriptors, if the keeper's own window
         * has not yet done so. Else the first program with a window would
         * start it, and the desktop would hold that program's caller's
         * descriptors (a build tool's output pipe: the build never ended). */
        GetDesktopWindow();
        return 0;
    }
    /* A window of its own (never shown) starts the desktop process now, with
     * this process's streams, and keeps it up. Otherwise every program's
     * first window starts it anew, with that program's streams: a test
     * reading them waited 1 to 2 s for the pipe to close after each run. */
    CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    for (;;)
        Sleep(INFINITE);
}
