// Resource ids of the update client: dialog templates, controls, the icon and
// the string table (the message table of the update client).
#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME 130
#define IDD_WAIT_DIALOG 131
#define IDD_SERVER_SELECT 133

// Progress window (102).
#define IDC_FILE_NAME 1001
#define IDC_CURRENT 1002
#define IDC_TOTAL 1003
#define IDC_FILE_PROGRESS 1004
#define IDC_TOTAL_PROGRESS 1005
#define IDC_FILE_COUNT 1006

// Please-wait panel (131): the progress of an install that takes a while,
// hidden until then.
#define IDC_WAIT_PROGRESS 1010
#define IDC_WAIT_BAR 1011

// Server selection (133).
#define IDC_CONNECT 1005
#define IDC_SERVER_LIST 1006
#define IDC_CANCEL 1007

// Message table.
#define IDS_SOCKETS_INIT_FAILED 1
#define IDS_CONNECT_FAILED 2
#define IDS_CLIENT_START_FAILED 3
#define IDS_CONNECTION_LOST 4
#define IDS_VERSION_MISMATCH 5
#define IDS_TOO_MANY_FILES 6
#define IDS_DAMAGED_FILE 7
#define IDS_DISK_FULL 8

// Registers the templates and strings above with the platform (once, before
// any dialog is created; calling it again is harmless).
void RegisterUpdateResources();
