/* Holds the Wine session open between test runs: while one Windows process
 * lives, Wine's own service processes stay up, and later programs neither
 * start them again nor hand them their standard streams. Ends with the
 * session (wineserver -k). */
#include <windows.h>

int main(void) {
    for (;;)
        Sleep(INFINITE);
}
