// Host backend: the stand-in of the Windows SDK's base types, constants, error
// numbers and the kernel and window functions the client calls by their system
// names. Only names the SDK itself declares live here (never a project name),
// with the SDK's values, so code written against them means the same on both
// backends; the definitions are in host/. Included through platform/wintypes.h
// only, never directly.
#pragma once

#include <cstdint>

// NOTE: the widths follow Win32 (LLP64), not the host's LP64: DWORD, LONG and
// ULONG are 32 bits everywhere, so wire and record arithmetic behaves the same.
typedef int BOOL;
typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::uint32_t UINT;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef std::uint16_t USHORT;
typedef std::uint8_t UCHAR;
typedef char CHAR;
typedef std::intptr_t INT_PTR;
typedef std::uintptr_t UINT_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t ULONG_PTR;
typedef std::uintptr_t DWORD_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
// The character type of window texts: the host's windows hold UTF-8, so it is
// char here (on Windows, with UNICODE, it is wchar_t).
typedef char TCHAR;
typedef const TCHAR* LPCTSTR;
typedef TCHAR* LPTSTR;
typedef DWORD* LPDWORD;

struct HWND__;
typedef HWND__* HWND;
struct HICON__;
typedef HICON__* HICON;
typedef HICON HCURSOR;
struct HDC__;
typedef HDC__* HDC;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define WINAPI
#define CALLBACK
#if !defined(_MSC_VER) && !defined(__stdcall)
#define __stdcall
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define MAKELONG(lo, hi)                                                                           \
    ((LONG)(((WORD)((DWORD_PTR)(lo)&0xffff)) | ((DWORD)((WORD)((DWORD_PTR)(hi)&0xffff))) << 16))
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKEWPARAM(lo, hi) ((WPARAM)(DWORD)MAKELONG(lo, hi))

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *LPRECT;

typedef std::uint64_t ULONGLONG;

typedef union _ULARGE_INTEGER {
    std::uint64_t QuadPart;
} ULARGE_INTEGER, *PULARGE_INTEGER;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

// Message boxes and dialog results.
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ICONHAND 0x00000010u
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040u
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_TYPEMASK 0x0000000Fu
#define MB_ICONMASK 0x000000F0u

#define IDOK 1
#define IDCANCEL 2

// Window messages.
#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_ICONERASEBKGND 0x0027
#define WM_QUERYDRAGICON 0x0037
#define WM_SETICON 0x0080
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000

#define ICON_SMALL 0
#define ICON_BIG 1

// Progress bar messages.
#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_DELTAPOS (WM_USER + 3)
#define PBM_SETSTEP (WM_USER + 4)
#define PBM_STEPIT (WM_USER + 5)
#define PBM_SETRANGE32 (WM_USER + 6)
#define PBM_GETRANGE (WM_USER + 7)
#define PBM_GETPOS (WM_USER + 8)

typedef struct {
    int iLow;
    int iHigh;
} PBRANGE, *PPBRANGE;

// List box messages, notifications and results.
#define LB_ADDSTRING 0x0180
#define LB_SETCURSEL 0x0186
#define LB_GETCURSEL 0x0188
#define LB_GETTEXT 0x0189
#define LB_GETTEXTLEN 0x018A
#define LB_GETCOUNT 0x018B
#define LB_GETITEMDATA 0x0199
#define LB_SETITEMDATA 0x019A
#define LB_RESETCONTENT 0x0184
#define LB_OKAY 0
#define LB_ERR (-1)
#define LB_ERRSPACE (-2)
#define LBN_SELCHANGE 1
#define LBN_DBLCLK 2

#define BN_CLICKED 0

// ShowWindow commands.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SW_SHOWDEFAULT 10

// System metrics.
#define SM_CXICON 11
#define SM_CYICON 12

// Window styles used by the dialog templates.
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_BORDER 0x00800000u
#define WS_CAPTION 0x00C00000u
#define WS_SYSMENU 0x00080000u
#define WS_VSCROLL 0x00200000u
#define WS_GROUP 0x00020000u
#define WS_TABSTOP 0x00010000u
#define WS_EX_APPWINDOW 0x00040000u
#define DS_SETFONT 0x00000040u
#define DS_MODALFRAME 0x00000080u
#define SS_LEFT 0x00000000u
#define SS_RIGHT 0x00000002u
#define BS_PUSHBUTTON 0x00000000u
#define BS_DEFPUSHBUTTON 0x00000001u
#define LBS_NOTIFY 0x00000001u
#define LBS_NOINTEGRALHEIGHT 0x00000100u

// Standard command ids.
#define ID_HELP 0xE146

// Win32 error numbers (GetLastError).
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_BAD_FORMAT 11L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_HANDLE_EOF 38L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_DIRECTORY 267L

#define MAX_PATH 260

// Handles, waits and the per-thread error value.
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

BOOL CloseHandle(HANDLE hObject);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// Window functions. Each window's state lives behind its handle; SendMessage
// runs the window's procedure now, on the calling thread (from another thread
// it is marshalled to the user-interface thread). PostMessage may be called
// from any thread: the message is queued for the user-interface thread's loop
// and wakes it.
LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL IsWindow(HWND hWnd);
int GetSystemMetrics(int nIndex);

// Timers: every uElapse milliseconds the window gets WM_TIMER with nIDEvent,
// from a full modal run of the loop (never inside a restricted wait or the
// wait for a worker, as on Windows). Setting an existing id restarts it; a
// window's timers end with it. A timer procedure is not supported (null).
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);
// Milliseconds since an arbitrary start, never going back.
ULONGLONG GetTickCount64();
