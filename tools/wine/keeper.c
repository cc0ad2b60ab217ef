/* Holds the Wine session open between test runs: while one Windows process
 * lives, Wine's own service processes stay up, and later programs neither
 * start them again nor hand them their standard streams. Ends with the
 * session (wineserver -k). With any argument it returns at once: run to the
 * end, it shows that the session's service processes are up. */
#include <windows.h>

int main(int argc, char** argv) {
    (void)argv;
    if (argc > 1)
        return 0;
    /* A window of its own (never shown) starts the desktop process now, with
     * this process's streams, and keeps it up. Otherwise every program's
     * first window starts it anew, with that program's streams: a test
     * reading them waited 1 to 2 s for the pipe to close after each run. */
    CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    for (;;)
        Sleep(INFINITE);
}
