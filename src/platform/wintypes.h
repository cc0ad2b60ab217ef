// Platform layer: the switch to the system's own names. On Windows this is the
// SDK itself (one wrapper, one name policy); on the host it is host/'s
// stand-in declarations of the same names with the same values. Everything the
// Windows SDK or C runtime declares (DWORD, HWND, MB_*, CreateFileA,
// GetPrivateProfileStringA, SendMessage, _beginthreadex ...) comes from here;
// the Windows Sockets names come with platform/socket.h (on Windows they are
// here already). The other headers of src/platform/ declare only what the
// project defines itself.
//
// NOTE: every translation unit sees the system's names through this header
// before any other: the SDK's A/W macros rename functions and framework
// members alike (SendMessage is SendMessageW, CWnd::SetWindowText is
// CWnd::SetWindowTextW), which is only consistent when all see the same
// policy.
#pragma once

#if defined(_WIN32)
#include "platform/win32/windows_sdk.h"
#else
#include "platform/host/wintypes_host.h"

#include "platform/host/winfiles_host.h"
#endif
