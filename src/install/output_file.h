// Opening the files that received bodies are written to. Operating-system
// independent: everything goes through the platform's file functions.
#pragma once

#include "platform/wintypes.h"

#include <cstdio>

// Opens path for binary writing ("wb"), clearing a read-only attribute and
// creating missing parent directories as needed. nullptr when it cannot.
FILE* OpenOutputFile(const char* path);
// Creates the directory that contains path and every missing one above it.
// TRUE when the containing directory was created by this call.
BOOL CreateParentDirectories(const char* path);

// Whether a name received from the server stays inside the working
// directory and names an ordinary file there: a relative path of
// backslash-separated components, none of them empty, "." or "..", none
// ending in a dot or a blank, none a device name, and no drive, colon,
// forward slash or character that Windows refuses in file names.
bool IsContainedName(const char* name);
