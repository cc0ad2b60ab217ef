// Platform layer contract: the INI-profile functions. Sections and keys match
// without regard to case; values are trimmed of surrounding blanks; the default
// applies only when the key or the file is absent. Only operating-system
// independent code here.
#pragma once

#include "platform/wintypes.h"

// Copies the value (or the default) into lpReturnedString, cut to nSize - 1
// characters and zero-terminated; returns the number of characters copied.
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
// The value's leading decimal number (optional sign); 0 for a value that does
// not begin with one; nDefault when the key or the file is absent.
UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, int nDefault, LPCSTR lpFileName);
