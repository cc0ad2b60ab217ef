// Resource ids of the robot's practice program.
#pragma once

#define IDD_PROGRESS 101
#define IDD_PANEL 102
#define IDD_LIST 103

#define IDC_COUNT 1001
#define IDC_CURRENT 1002
#define IDC_BAR 1003
#define IDC_LIST 1004
#define IDC_CONNECT 1005
#define IDC_CANCEL 1007
