// Settings of the update client. Operating-system independent code only.
#include "app/settings.h"

#include "platform/wintypes.h"

CString g_strServerAddr;
UINT g_nServerPort = 0;
CString g_strClient;

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
}
