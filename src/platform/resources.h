// Platform layer contract: resources as data. The client defines its dialog
// templates and string table once and registers them at start-up; the host
// front ends lay windows out from the templates, and a Win32 backend builds
// real dialogs from the same data. Only operating-system independent code here.
#pragma once

#include "platform/wintypes.h"

enum class ControlKind {
    StaticLeft,    // "STATIC", SS_LEFT
    StaticRight,   // "STATIC", SS_RIGHT
    ProgressBar,   // "msctls_progress32"
    ListBox,       // "LISTBOX"
    PushButton,    // "BUTTON", BS_PUSHBUTTON
    DefPushButton, // "BUTTON", BS_DEFPUSHBUTTON
};

// One control of a dialog template. Positions and sizes are dialog units.
struct DialogControl {
    int nID; // -1 for a caption the program never addresses
    ControlKind kind;
    const char* text; // initial text (UTF-8), nullptr for none
    short x, y, cx, cy;
    DWORD style;
};

struct DialogTemplate {
    UINT nID;
    const char* title; // caption text (UTF-8), nullptr or "" for none
    short cx, cy;      // size in dialog units
    const char* fontName;
    WORD pointSize;
    DWORD style;
    DWORD exStyle;
    const DialogControl* controls;
    int nControls;
};

struct StringResource {
    UINT nID;
    const char* text; // UTF-8
};

struct ResourceTable {
    const DialogTemplate* dialogs;
    int nDialogs;
    const StringResource* strings;
    int nStrings;
    const UINT* icons; // ids of the icon resources the program has
    int nIcons;
};

// Registers the program's resources. The table and everything it points to
// must stay alive for the rest of the process (normally static data).
void AfxSetResources(const ResourceTable& table);

// Lookups; nullptr when the id is not registered.
const DialogTemplate* AfxFindDialogTemplate(UINT nIDTemplate);
const char* AfxFindString(UINT nID);
