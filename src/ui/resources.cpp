// The update client's resources as data: dialog templates 102, 131 and 133,
// the icon id and the string table. Positions are dialog units.
#include "ui/resource.h"

#include "platform/resources.h"

namespace {

const char kFont[] = "굴림체";
const WORD kFontPoints = 9;

const DWORD kStaticRight = 0x50020002; // child, visible, group, SS_RIGHT
const DWORD kStaticLeft = 0x50020000;  // child, visible, group, SS_LEFT
const DWORD kProgress = 0x50800000;    // child, visible, border
const DWORD kVisible = 0x10000000;     // WS_VISIBLE

const DialogControl kUpdateControls[] = {
    {IDC_FILE_NAME, ControlKind::StaticRight, "Test.txt", 65, 25, 140, 8, kStaticRight},
    {IDC_CURRENT, ControlKind::StaticRight, "0/0", 65, 45, 140, 8, kStaticRight},
    {IDC_TOTAL, ControlKind::StaticRight, "0/0", 65, 70, 140, 8, kStaticRight},
    {IDC_FILE_PROGRESS, ControlKind::ProgressBar, nullptr, 10, 55, 195, 10, kProgress},
    {IDC_TOTAL_PROGRESS, ControlKind::ProgressBar, nullptr, 10, 80, 195, 10, kProgress},
    {-1, ControlKind::StaticLeft, "File Name", 10, 25, 37, 8, kStaticLeft},
    {IDC_FILE_COUNT, ControlKind::StaticRight, "0/0", 65, 10, 140, 8, kStaticRight},
    {-1, ControlKind::StaticLeft, "File Count", 10, 10, 41, 8, kStaticLeft},
    {-1, ControlKind::StaticLeft, "Current", 10, 45, 29, 8, kStaticLeft},
    {-1, ControlKind::StaticLeft, "Total", 10, 70, 21, 8, kStaticLeft},
};

const DialogControl kWaitControls[] = {
    {-1, ControlKind::StaticLeft, "파일을 갱신중 입니다. 잠시만 기다려 주십시요.", 18, 45, 181, 8,
     kStaticLeft},
    {IDC_WAIT_PROGRESS, ControlKind::StaticLeft, "", 18, 60, 181, 8, kStaticLeft & ~kVisible},
    {IDC_WAIT_BAR, ControlKind::ProgressBar, nullptr, 18, 72, 181, 10, kProgress & ~kVisible},
};

const DialogControl kServerSelectControls[] = {
    {IDC_SERVER_LIST, ControlKind::ListBox, nullptr, 10, 10, 195, 55, 0x50A10101},
    {IDC_CONNECT, ControlKind::DefPushButton, "접속", 100, 75, 50, 14, 0x50010001},
    {IDC_CANCEL, ControlKind::PushButton, "취소", 155, 75, 50, 14, 0x50010000},
};

template <typename T, int N> constexpr int Count(const T (&)[N]) {
    return N;
}

const DialogTemplate kDialogs[] = {
    {IDD_UPDATE_DIALOG, "Torvane Update", 217, 99, kFont, kFontPoints, 0x90C800C0, WS_EX_APPWINDOW,
     kUpdateControls, Count(kUpdateControls)},
    {IDD_WAIT_DIALOG, nullptr, 217, 99, kFont, kFontPoints, 0x40000040, 0, kWaitControls,
     Count(kWaitControls)},
    {IDD_SERVER_SELECT, "Server Select", 217, 99, kFont, kFontPoints, 0x80C800C0, 0,
     kServerSelectControls, Count(kServerSelectControls)},
};

const StringResource kStrings[] = {
    {IDS_SOCKETS_INIT_FAILED, "Windows 소켓 초기화에 실패하였습니다."},
    {IDS_CONNECT_FAILED, "서버 접속에 실패했습니다.\n잠시 후 재 실행 하세요."},
    {IDS_CLIENT_START_FAILED, "'Torvane'를 실행할 수 없습니다.\n재 설치 후 다시 시작하세요."},
    {IDS_CONNECTION_LOST, "서버와의 연결이 해제 되었습니다.\n재 실행 하세요."},
    {IDS_VERSION_MISMATCH, "버전이 일치하지 안습니다.\n최신 버전으로 재 설치하세요."},
    {IDS_TOO_MANY_FILES, "다운로드 받을 파일이 너무 많습니다. \n최신 버전으로 재 설치하세요."},
    {IDS_DAMAGED_FILE, "손상된 파일이 있습니다.\n재 설치 후 다시 시작하세요."},
    {IDS_DISK_FULL, "디스크 공간이 부족합니다.\n%s MB 이상의 여유 공간이 필요합니다."},
};

const UINT kIcons[] = {IDR_MAINFRAME};

const ResourceTable kResources = {kDialogs,        Count(kDialogs), kStrings,
                                  Count(kStrings), kIcons,          Count(kIcons)};

} // namespace

void RegisterUpdateResources() {
    AfxSetResources(kResources);
}
