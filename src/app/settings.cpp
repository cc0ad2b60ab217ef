// Settings of the update client. Operating-system independent code only.
#include "app/settings.h"

#include "platform/wintypes.h"

CString g_strServerAddr;
UINT g_nServerPort = 0;
CString g_strClient;
UINT g_nTimeout = DEFAULT_TIMEOUT;

namespace {

const char kConfigFile[] = ".\\Config.ini";
const char kSection[] = "Update";
const DWORD kValueBuffer = 128; // at most 127 characters are kept

} // namespace

void LoadConfig() {
    char value[kValueBuffer];
    GetPrivateProfileStringA(kSection, "IP", DEFAULT_SERVER_ADDR, value, kValueBuffer, kConfigFile);
    g_strServerAddr = value;
    g_nServerPort = GetPrivateProfileIntA(kSection, "Port", DEFAULT_SERVER_PORT, kConfigFile);
    GetPrivateProfileStringA(kSection, "Client", DEFAULT_CLIENT, value, kValueBuffer, kConfigFile);
    g_strClient = value;
    // NOTE: the profile function returns a negative number as its unsigned
    // bit pattern; a limit of weeks is no limit in practice either way.
    const UINT nTimeout = GetPrivateProfileIntA(kSection, "Timeout", DEFAULT_TIMEOUT, kConfigFile);
    g_nTimeout = nTimeout > 0x7FFFFFFFu ? 0 : nTimeout;
}
