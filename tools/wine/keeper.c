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
    for (;;)
        Sleep(INFINITE);
}
