// The settings of the update client, read once from .\Config.ini at
// start-up and never changed afterwards.
#pragma once

#include "platform/cstring.h"
#include "platform/wintypes.h"

extern CString g_strServerAddr; // update server address (dotted IPv4 or host name)
extern UINT g_nServerPort;      // update server port
extern CString g_strClient;     // game client executable, optionally with a directory
// Seconds the update exchange waits for the server's next byte before it
// gives up as on a lost connection; 0: no limit.
extern UINT g_nTimeout;

// The update server used when Config.ini names none.
#define DEFAULT_SERVER_ADDR "127.0.0.1"
#define DEFAULT_SERVER_PORT 43001
#define DEFAULT_CLIENT "Torvane.exe"
#define DEFAULT_TIMEOUT 60

// Reads section "Update" (keys IP, Port, Client, Timeout) of .\Config.ini; a
// missing file or key gives the default, a present but empty key an empty
// value (a Timeout that is empty, not a number or negative means no limit).
void LoadConfig();
