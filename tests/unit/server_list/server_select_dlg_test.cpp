// CServerSelectDlg driven by keys through the recording front end: the list
// box's double-click (Enter on the list), the Cancel button, and the lists
// that cannot be converted.
#include "app/settings.h"
#include "install/version_record.h"
#include "platform/host/frontend.h"
#include "temp_dir.h"
#include "ui/resource.h"
#include "ui/server_select_dlg.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

const char kMsgDamaged[] = "손상된 파일이 있습니다.\n재 설치 후 다시 시작하세요.";

class ServerSelectDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_rec = &tvhost::InstallRecordingFrontEnd();
        m_game = m_dir.path() / "game";
        fs::create_directory(m_game);
        TempWorkDir::Write((m_game / "launch.sh").string(),
                           "#!/bin/sh\necho \"$*\" > args.tmp && mv args.tmp args.txt\n");
        fs::permissions(m_game / "launch.sh", fs::perms::owner_all);
        g_strClient = "game\\launch.sh";
        std::string list =
            "[Server]\nCount=2\nName0=Alpha\nIP0=10.0.0.1\nName1=Beta\nIP1=10.0.0.2\n";
        ScrambleText(list.data());
        TempWorkDir::Write("Server.cnv", list);
    }

    // Runs the dialog, pressing keys once it is up.
    INT_PTR Run(std::vector<tvhost::Key> keys) {
        m_rec->SetModalStartScript([keys](UINT nIDTemplate, HWND) {
            if (nIDTemplate == IDD_SERVER_SELECT)
                for (tvhost::Key k : keys)
                    tvhost::PostKey(k);
        });
        CServerSelectDlg dlg(nullptr);
        return dlg.DoModal();
    }

    // The game's arguments, or "" when it was not started within a second.
    std::string GameArguments() const {
        const fs::path file = m_game / "args.txt";
        for (int i = 0; i < 100 && !fs::exists(file); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return TempWorkDir::Read(file.string());
    }

    TempWorkDir m_dir;
    fs::path m_game;
    tvhost::RecordingFrontEnd* m_rec = nullptr;
};

// The list has the focus first, so Enter on it is its double-click.
TEST_F(ServerSelectDlgTest, DoubleClickOnTheListConnectsLikeTheButton) {
    using tvhost::Key;
    for (const auto& keys : {std::vector<Key>{Key::Down, Key::Enter},
                             std::vector<Key>{Key::Down, Key::Tab, Key::Enter}}) {
        fs::current_path(m_dir.path());
        fs::remove(m_game / "args.txt");
        EXPECT_EQ(Run(keys), 0);
        EXPECT_EQ(GameArguments(), "-Update /IP:10.0.0.2\n") << keys.size();
        EXPECT_EQ(fs::current_path(), fs::canonical(m_game)) << "the game's directory is current";
    }
}

TEST_F(ServerSelectDlgTest, CancelButtonAndEscapeStartNothing) {
    using tvhost::Key;
    EXPECT_EQ(Run({Key::Tab, Key::Tab, Key::Enter}), 0) << "button 1007 ends with 0";
    EXPECT_EQ(Run({Key::Escape}), IDCANCEL);
    EXPECT_EQ(GameArguments(), "");
    EXPECT_TRUE(m_rec->MessageBoxes().empty());
}

// Count comes from a local file: a damaged one must not hold the player for
// ever (or fill memory) reading two billion absent entries.
TEST_F(ServerSelectDlgTest, HugeCountStopsAtTheListLimit) {
    std::string list = "[Server]\nCount=2147483647\nName0=Alpha\nIP0=10.0.0.1\n";
    ScrambleText(list.data());
    TempWorkDir::Write("Server.cnv", list);
    int items = -1;
    m_rec->SetModalStartScript([&items](UINT, HWND hDlg) {
        items = static_cast<CServerSelectDlg*>(CWnd::FromHandle(hDlg))->m_serverList.GetCount();
        tvhost::PostKey(tvhost::Key::Escape);
    });
    CServerSelectDlg dlg(nullptr);
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(items, 4096);
}

TEST_F(ServerSelectDlgTest, ListThatCannotBeConvertedShowsMessageSevenAndEnds) {
    struct Case {
        const char* name;
        std::function<void()> setUp;
    };
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string savedTmp = oldTmp ? oldTmp : "";
    for (const Case& c :
         {Case{"UnreadableList",
               [] { fs::remove("Server.cnv"), fs::create_directory("Server.cnv"); }},
          Case{"NoTemporaryDirectory",
               [] { ::setenv("TMPDIR", ("/" + std::string(300, 't')).c_str(), 1); }}}) {
        m_rec->Clear();
        c.setUp();
        EXPECT_EQ(Run({}), 0) << c.name;
        ASSERT_EQ(m_rec->MessageBoxes().size(), 1u) << c.name;
        EXPECT_EQ(m_rec->MessageBoxes()[0].text, kMsgDamaged) << c.name;
        EXPECT_TRUE(m_rec->ModalRuns().empty()) << c.name << ": the dialog ends before it shows";
    }
    if (oldTmp)
        ::setenv("TMPDIR", savedTmp.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_EQ(GameArguments(), "");
}

} // namespace
