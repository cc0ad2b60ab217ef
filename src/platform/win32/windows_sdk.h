// Win32 backend: the one wrapper of the Windows SDK headers. Every translation
// unit reaches the SDK through platform/wintypes.h, which includes this, so
// every file sees the same macros. No project declaration lives here.
//
// Name policy: UNICODE, so the unsuffixed names (SendMessage, SetWindowText,
// LoadString, DefWindowProc ...) are the wide-character (W) forms everywhere
// and TCHAR is wchar_t; the project's UTF-8 texts reach the screen through
// them. Files, profiles and processes are called by their explicit ...A names
// with narrow bytes passed unchanged.
#pragma once

#if defined(_WINDOWS_) && !defined(UNICODE)
#error "<windows.h> was included before platform/wintypes.h, without its name policy"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

// NOTE: winsock2.h before windows.h: windows.h would otherwise pull in the
// old winsock.h, whose declarations conflict with winsock2.h's.
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>
#include <process.h> // _beginthreadex
