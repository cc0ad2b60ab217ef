// The client's own Win32 calls failing one at a time through the backend's
// system-call table: File.ver is replaced whole or not at all, the private
// copy of the server list never outlives a failure, and a game that cannot
// be started is reported.
#include "app/settings.h"
#include "install/version_record.h"
#include "platform/app.h"
#include "platform/win32/syscall_faults.h"
#include "robot.h"
#include "temp_dir.h"
#include "ui/resource.h"
#include "ui/server_select_dlg.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

using S = tvwin32::Syscalls;

const char kMsgDamaged[] = "손상된 파일이 있습니다.\n재 설치 후 다시 시작하세요.";
const char kMsgCannotStart[] = "'Torvane'를 실행할 수 없습니다.\n재 설치 후 다시 시작하세요.";

// A fault of any entry behind one type, so a table of cases can hold them.
struct ArmedFault {
    virtual ~ArmedFault() = default;
    virtual long Calls() const = 0;
};

template <auto Entry> struct Armed : ArmedFault {
    Armed(long n, DWORD error) : fault(n, static_cast<int>(error)) {}
    long Calls() const override { return fault.Calls(); }
    tvwin32::FailNthCall<Entry> fault;
};

// Arms the fault when called: the case's own set-up calls stay real.
using Fault = std::function<std::unique_ptr<ArmedFault>()>;

template <auto Entry> Fault Fail(long n, DWORD error) {
    return [=] { return std::make_unique<Armed<Entry>>(n, error); };
}

struct RecordCase {
    const char* what;
    Fault fault;
};

TEST(ClientCalls, VersionRecordThatCannotBeReplacedKeepsTheOldOneAndNoTemporary) {
    const RecordCase cases[] = {
        {"the new record cannot be created", Fail<&S::CreateFileA>(1, ERROR_ACCESS_DENIED)},
        {"the disk is full", Fail<&S::WriteFile>(1, ERROR_DISK_FULL)},
        {"the old record cannot be replaced", Fail<&S::MoveFileExA>(1, ERROR_ACCESS_DENIED)},
    };
    const DWORD old[2] = {5, 7}, fresh[2] = {6, 1};
    for (const RecordCase& c : cases) {
        TempWorkDir dir;
        ASSERT_TRUE(WriteVersionRecordFile("File.ver", old));
        const std::string before = TempWorkDir::Read("File.ver");
        {
            const auto fault = c.fault();
            EXPECT_FALSE(WriteVersionRecordFile("File.ver", fresh)) << c.what;
            EXPECT_EQ(fault->Calls(), 1) << c.what;
        }
        EXPECT_EQ(TempWorkDir::Read("File.ver"), before) << c.what;
        EXPECT_FALSE(fs::exists("File.ver.new")) << c.what;
        EXPECT_TRUE(WriteVersionRecordFile("File.ver", fresh))
            << c.what << ": the real calls again";
        DWORD version[2] = {};
        EXPECT_EQ(ReadVersionRecordFile("File.ver", version), VersionRecordStatus::Valid);
        EXPECT_EQ(version[1], 1u) << c.what;
    }
}

// The server selection in a fresh working directory with its own temporary
// directory, so what the dialog leaves there can be seen.
class ServerSelectFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterUpdateResources();
        fs::create_directory(m_tmp);
        std::string list =
            "[Server]\nCount=2\nName0=Alpha\nIP0=10.0.0.1\nName1=Beta\nIP1=10.0.0.2\n";
        ScrambleText(list.data());
        TempWorkDir::Write("Server.cnv", list);
        m_savedClient = g_strClient;
        g_strClient = "game.exe";
        m_savedCmdLine = AfxGetApp()->m_lpCmdLine;
        AfxGetApp()->m_lpCmdLine = m_noArguments;
    }
    void TearDown() override {
        g_strClient = m_savedClient;
        AfxGetApp()->m_lpCmdLine = m_savedCmdLine;
    }

    INT_PTR Run(const std::function<void()>& play) {
        robot::Helper helper(play);
        CServerSelectDlg dlg(nullptr);
        return dlg.DoModal();
    }

    TempWorkDir m_dir;
    fs::path m_tmp = m_dir.path() / "tmp";
    TempDirVariable m_tmpVariable{m_tmp.string() + "\\"};
    CString m_savedClient;
    char m_noArguments[1] = "";
    char* m_savedCmdLine = nullptr;
};

struct ListCase {
    const char* what;
    Fault fault;
    bool listShown; // else the player is told the list is damaged
};

TEST_F(ServerSelectFaults, ListCopyThatFailsShowsMessageSevenAndLeavesNoCopy) {
    const ListCase cases[] = {
        {"no temporary directory", Fail<&S::GetTempPathA>(1, ERROR_ENVVAR_NOT_FOUND), false},
        {"the copy cannot be created", Fail<&S::CreateFileA>(2, ERROR_ACCESS_DENIED), false},
        {"the list cannot be read", Fail<&S::ReadFile>(1, ERROR_READ_FAULT), false},
        {"the copy cannot be written", Fail<&S::WriteFile>(1, ERROR_DISK_FULL), false},
        {"the name is taken: another is tried", Fail<&S::CreateFileA>(2, ERROR_FILE_EXISTS), true},
    };
    for (const ListCase& c : cases) {
        robot::Box box;
        LRESULT items = -1;
        INT_PTR result = -1;
        long calls = 0;
        {
            const auto fault = c.fault();
            result = Run([&] {
                if (!c.listShown) {
                    box = robot::AnswerBox();
                    return;
                }
                HWND h = robot::WaitForDialog("Server Select");
                ASSERT_NE(h, nullptr);
                items = SendMessageW(GetDlgItem(h, IDC_SERVER_LIST), LB_GETCOUNT, 0, 0);
                robot::PressKey(h, VK_ESCAPE);
            });
            calls = fault->Calls();
        }
        EXPECT_GE(calls, 1) << c.what;
        if (c.listShown) {
            EXPECT_EQ(result, IDCANCEL) << c.what;
            EXPECT_EQ(items, 2) << c.what;
        } else {
            EXPECT_EQ(result, 0) << c.what;
            EXPECT_EQ(box.text, kMsgDamaged) << c.what;
            EXPECT_EQ(box.icon, "hand") << c.what;
        }
        EXPECT_TRUE(fs::is_empty(m_tmp)) << c.what << ": a copy was left behind";
    }
}

TEST_F(ServerSelectFaults, GameThatCannotBeStartedIsReportedAndTheDialogEnds) {
    tvwin32::FailNthCall<&S::CreateProcessA> fault(1, ERROR_FILE_NOT_FOUND);
    robot::Box box;
    const INT_PTR result = Run([&] {
        HWND h = robot::WaitForDialog("Server Select");
        ASSERT_NE(h, nullptr);
        robot::Click(GetDlgItem(h, IDC_CONNECT));
        box = robot::AnswerBox();
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(fault.Calls(), 1);
    EXPECT_EQ(box.text, kMsgCannotStart);
    EXPECT_EQ(box.icon, "hand");
    EXPECT_TRUE(fs::is_empty(m_tmp));
}

} // namespace
