// CUpdateDlg through real loopback sockets: the exchange, its labels, its
// failures and the hardening of received names and malformed headers.
#include "app/settings.h"
#include "install/version_record.h"
#include "platform/host/frontend.h"
#include "platform/host/syscall_faults.h"
#include "platform/host/syscalls.h"
#include "recorded_decompressor.h"
#include "refused_names.h"
#include "scripted_server.h"
#include "temp_dir.h"
#include "ui/resource.h"
#include "ui/update_dlg.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using tvtest::File;
using tvtest::ListHeader;
using tvtest::ServerConn;
using tvtest::VersionReply;

namespace {

const char kMsgConnectFailed[] = "서버 접속에 실패했습니다.\n잠시 후 재 실행 하세요.";
const char kMsgConnectionLost[] = "서버와의 연결이 해제 되었습니다.\n재 실행 하세요.";
const char kMsgVersionMismatch[] = "버전이 일치하지 안습니다.\n최신 버전으로 재 설치하세요.";
const char kMsgDamaged[] = "손상된 파일이 있습니다.\n재 설치 후 다시 시작하세요.";

std::string Request(std::uint32_t v0, std::uint32_t v1) {
    std::string r = VersionReply(v0, v1); // same layout as the first 9 bytes
    r[0] = 1;
    return r.substr(0, 9);
}

std::string Body(std::size_t n, char seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(seed + i * 7 + (i >> 8));
    return s;
}

void WriteRecord(const std::string& plain) {
    std::string text = plain;
    ScrambleText(text.data());
    TempWorkDir::Write("File.ver", text);
}

// Everything a run leaves behind.
struct Outcome {
    INT_PTR result = -1;
    bool timedOut = false;
    std::vector<std::string> received; // names the install step took, in order
    DWORD version[2] = {0, 0};
    std::vector<tvhost::MessageBoxEvent> boxes;
    std::map<std::string, std::string> files; // relative path -> content, Config and File.ver aside
    std::string fileCount, fileName, current, total;

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> t;
        for (const auto& b : boxes)
            t.push_back(b.text);
        return t;
    }
};

class UpdateDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_rec = &tvhost::InstallRecordingFrontEnd();
        m_rec->SetModalStartScript(CancelServerSelection);
        tvtest::ClearDecompressed();
    }
    void TearDown() override { tvhost::ResetSyscalls(); }

    // The finish step runs the server selection; these tests end there.
    static void CancelServerSelection(UINT nIDTemplate, HWND) {
        if (nIDTemplate == IDD_SERVER_SELECT)
            tvhost::PostKey(tvhost::Key::Escape);
    }

    // Runs the progress window against the scripted server until it ends
    // (or a watchdog presses Escape after 15 s).
    Outcome Run(std::unique_ptr<tvtest::ScriptedServer> server, const char* addr = "127.0.0.1",
                unsigned port = 0) {
        g_strServerAddr = addr;
        g_nServerPort = port ? port : server->Port();
        Outcome out;
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock lock(m);
            if (!cv.wait_for(lock, std::chrono::seconds(15), [&] { return done; })) {
                out.timedOut = true;
                tvhost::PostKey(tvhost::Key::Escape);
            }
        });
        auto dlg = std::make_unique<CUpdateDlg>(nullptr);
        out.result = dlg->DoModal();
        {
            std::lock_guard lock(m);
            done = true;
        }
        cv.notify_one();
        watchdog.join();
        for (const std::string& path : tvtest::Decompressed())
            out.received.push_back(path.substr(0, path.size() - 3)); // without ".gz"
        out.version[0] = dlg->m_nVersion[0];
        out.version[1] = dlg->m_nVersion[1];
        dlg.reset(); // closes the connection, so the script can end
        server.reset();
        out.boxes = m_rec->MessageBoxes();
        out.fileCount = m_rec->Text(IDC_FILE_COUNT);
        out.fileName = m_rec->Text(IDC_FILE_NAME);
        out.current = m_rec->Text(IDC_CURRENT);
        out.total = m_rec->Text(IDC_TOTAL);
        for (const auto& e : fs::recursive_directory_iterator("."))
            if (e.is_regular_file() && e.path() != "./Config.ini" && e.path() != "./File.ver" &&
                e.path() != "./Server.cnv")
                out.files[e.path().lexically_relative(".").string()] =
                    TempWorkDir::Read(e.path().string());
        return out;
    }

    // Waits (on the server's thread) until the client has done what cond
    // observes; a client that never does is left to the watchdog.
    static void WaitFor(const std::function<bool()>& cond) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!cond() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    static std::unique_ptr<tvtest::ScriptedServer> Serve(tvtest::ScriptedServer::Script s) {
        return std::make_unique<tvtest::ScriptedServer>(std::move(s));
    }

    TempWorkDir m_dir;
    tvhost::RecordingFrontEnd* m_rec = nullptr;
};

// Two files in group 0 and one in group 1, as one byte stream after the
// version request.
std::string ThreeFileStream() {
    return ListHeader(2, 1, 5 + 3000 + 7) + File("a.txt", 3, "alpha") +
           File("dir\\b.bin", 4, Body(3000, 'b')) + File("c.dat", 9, "charlie");
}

enum class Delivery { OneBlock, OneBytePieces, RandomPieces };

std::string DeliveryName(const ::testing::TestParamInfo<Delivery>& info) {
    static const char* const kNames[] = {"OneBlock", "OneBytePieces", "RandomPieces"};
    return kNames[static_cast<int>(info.param)];
}

// --- The exchange -----------------------------------------------------------

class DeliveryTest : public UpdateDlgTest, public ::testing::WithParamInterface<Delivery> {
  public:
    Outcome RunWith(Delivery how, std::string& request) {
        const std::string stream = VersionReply(5, 9) + ThreeFileStream();
        return Run(Serve([&request, how, stream](ServerConn& c) {
            const std::string reply = stream.substr(0, 13);
            const std::string rest = stream.substr(13);
            if (how == Delivery::OneBytePieces)
                c.SendPieces(reply, 1, 2);
            else
                c.Send(reply);
            request = c.Recv(9);
            if (how == Delivery::OneBlock)
                c.Send(rest);
            else if (how == Delivery::OneBytePieces)
                c.SendPieces(rest.substr(0, 200), 1, 1), c.SendRandomPieces(rest.substr(200), 5, 7);
            else
                c.SendRandomPieces(rest, 700, 42);
            c.WaitPeerClose();
        }));
    }
};

TEST_P(DeliveryTest, StoresEveryFileAndAdvancesTheVersionsWhateverTheSplit) {
    WriteRecord("1 2 3 2");
    std::string request;
    const Outcome out = RunWith(GetParam(), request);
    ASSERT_FALSE(out.timedOut);
    EXPECT_EQ(request, Request(2, 3)) << "the request carries the local pair";
    EXPECT_EQ(out.result, 0) << "the finish step ends the window";
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(out.received, (std::vector<std::string>{"a.txt", "dir\\b.bin", "c.dat"}));
    EXPECT_EQ(out.version[0], 4u);
    EXPECT_EQ(out.version[1], 9u);
    const std::map<std::string, std::string> want = {
        {"a.txt.gz", "alpha"}, {"dir/b.bin.gz", Body(3000, 'b')}, {"c.dat.gz", "charlie"}};
    EXPECT_EQ(out.files, want);
    EXPECT_EQ(out.fileCount, "3/3");
    EXPECT_EQ(out.fileName, "c.dat");
    EXPECT_EQ(out.current, "7/7");
    EXPECT_EQ(out.total, "3012/3012");
}

INSTANTIATE_TEST_SUITE_P(Splits, DeliveryTest,
                         ::testing::Values(Delivery::OneBlock, Delivery::OneBytePieces,
                                           Delivery::RandomPieces),
                         DeliveryName);

TEST_F(UpdateDlgTest, LabelsCountFilesAndShowEmptyFileAsZeroOverZero) {
    const Outcome out = Run(Serve([](ServerConn& c) {
        c.Send(VersionReply(1, 1));
        c.Recv(9);
        c.SendPieces(ListHeader(2, 1, 9) + File("one", 1, "1234") + File("empty", 1, "") +
                         File("three", 1, "abcde"),
                     4, 3);
        c.WaitPeerClose();
    }));
    ASSERT_FALSE(out.timedOut);
    const auto counts = m_rec->TextHistory(IDC_FILE_COUNT);
    EXPECT_EQ(counts, (std::vector<std::string>{"1/3", "2/3", "3/3"}));
    const auto currents = m_rec->TextHistory(IDC_CURRENT);
    EXPECT_NE(std::find(currents.begin(), currents.end(), "0/0"), currents.end());
    EXPECT_NE(std::find(currents.begin(), currents.end(), "4/4"), currents.end());
    EXPECT_EQ(out.current, "5/5");
    EXPECT_EQ(out.files.at("empty.gz"), "") << "an empty body makes an empty file";
    EXPECT_EQ(out.received.size(), 3u);
}

TEST_F(UpdateDlgTest, InitialLabelsAreZeroAndTheFileNameEmpty) {
    std::map<int, std::string> shown;
    m_rec->SetModalStartScript([&shown](UINT nIDTemplate, HWND hDlg) {
        CancelServerSelection(nIDTemplate, hDlg);
        if (nIDTemplate != IDD_UPDATE_DIALOG)
            return;
        for (int id : {IDC_FILE_COUNT, IDC_FILE_NAME, IDC_CURRENT, IDC_TOTAL}) {
            CString text;
            CWnd::FromHandle(hDlg)->GetDlgItem(id)->GetWindowText(text);
            shown[id] = text.GetString();
        }
    });
    Run(Serve([](ServerConn& c) {
        c.Send(VersionReply(0, 0)); // up to date against no File.ver
    }));
    const std::map<int, std::string> want = {
        {IDC_FILE_COUNT, "0/0"}, {IDC_FILE_NAME, ""}, {IDC_CURRENT, "0/0"}, {IDC_TOTAL, "0/0"}};
    EXPECT_EQ(shown, want);
}

TEST_F(UpdateDlgTest, TotalCounterStopsAtTheAnnouncedTotal) {
    const Outcome out = Run(Serve([](ServerConn& c) {
        c.Send(VersionReply(1, 0));
        c.Recv(9);
        c.Send(ListHeader(1, 0, 500) + File("big", 1, Body(1500, 'x')));
        c.WaitPeerClose();
    }));
    EXPECT_EQ(out.total, "500/500");
    EXPECT_EQ(out.current, "1500/1500");
    EXPECT_EQ(out.files.at("big.gz").size(), 1500u);
}

TEST_F(UpdateDlgTest, SubstitutesTheUpdaterAndTheVersionRecordButNotPathsWithDirectories) {
    WriteRecord("1 0 0 0");
    const Outcome out = Run(Serve([](ServerConn& c) {
        c.Send(VersionReply(2, 0));
        c.Recv(9);
        c.Send(ListHeader(3, 0, 3) + File("UPDATE.EXE", 1, "u") + File("bin\\Update.exe", 1, "b") +
               File("file.VER", 2, "v"));
        c.WaitPeerClose();
    }));
    EXPECT_EQ(out.received, (std::vector<std::string>{"Update0.exe", "bin\\Update.exe"}))
        << "null.dat is never decompressed";
    const std::map<std::string, std::string> want = {
        {"Update0.exe.gz", "u"}, {"bin/Update.exe.gz", "b"}, {"null.dat.gz", "v"}};
    EXPECT_EQ(out.files, want);
    EXPECT_EQ(m_rec->TextHistory(IDC_FILE_NAME).back(), "null.dat");
    EXPECT_EQ(TempWorkDir::Read("File.ver"), [] {
        std::string s = "1 2 0 1";
        ScrambleText(s.data());
        return s;
    }()) << "File.ver holds the record the install step wrote, never the received copy";
}

// A worker that cannot be started (the system out of threads) leaves the
// install to the window's own thread: the files are installed and recorded
// before the server list opens, as always (not when the window is destroyed,
// after the game may have started).
TEST_F(UpdateDlgTest, InstallRunsInPlaceWhenNoWorkerThreadCanStart) {
    WriteRecord("1 2 3 2");
    std::size_t installedBeforeList = 0;
    m_rec->SetModalStartScript([&](UINT nIDTemplate, HWND hDlg) {
        if (nIDTemplate == IDD_SERVER_SELECT)
            installedBeforeList = tvtest::Decompressed().size();
        CancelServerSelection(nIDTemplate, hDlg);
    });
    tvhost::FailNthCall<&tvhost::Syscalls::pthread_create> noThread(1, EAGAIN, EAGAIN);
    const Outcome out = Run(Serve([](ServerConn& c) {
        c.Send(VersionReply(5, 9));
        c.Recv(9);
        c.Send(ThreeFileStream());
        c.WaitPeerClose();
    }));
    ASSERT_FALSE(out.timedOut);
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(installedBeforeList, 3u);
    EXPECT_EQ(out.received, (std::vector<std::string>{"a.txt", "dir\\b.bin", "c.dat"}));
    DWORD recorded[2];
    ASSERT_EQ(ReadVersionRecordFile("File.ver", recorded), VersionRecordStatus::Valid);
    EXPECT_EQ(recorded[0], 4u);
    EXPECT_EQ(recorded[1], 9u);
}

TEST_F(UpdateDlgTest, EmptyListFinishesAtOnce) {
    const Outcome out = Run(Serve([](ServerConn& c) {
        c.Send(VersionReply(1, 1));
        c.Recv(9);
        c.Send(ListHeader(0, 0, 0));
        c.WaitPeerClose();
    }));
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_TRUE(out.files.empty());
    EXPECT_FALSE(fs::exists("File.ver"));
}

TEST_F(UpdateDlgTest, FilesOfGroupOneOnlyAdvanceGroupOne) {
    WriteRecord("1 6 1 2");
    const Outcome out = Run(Serve([](ServerConn& c) {
        c.Send(VersionReply(6, 4));
        c.Recv(9);
        c.Send(ListHeader(0, 3, 3) + File("x", 2, "1") + File("y", 3, "2") + File("z", 4, "3"));
        c.WaitPeerClose();
    }));
    EXPECT_EQ(out.version[0], 6u) << "group 0 keeps the value read from File.ver";
    EXPECT_EQ(out.version[1], 4u);
    EXPECT_EQ(out.received.size(), 3u);
}

TEST_F(UpdateDlgTest, ReplyBytesBeyondThirteenAndBytesAfterTheLastBodyAreDropped) {
    std::string request;
    const Outcome out = Run(Serve([&request](ServerConn& c) {
        c.Send(VersionReply(1, 0) + "junk after the reply");
        request = c.Recv(9);
        c.Send(ListHeader(1, 0, 1) + File("f", 1, "z") + "trailing junk");
        c.Send("more junk");
        c.WaitPeerClose();
    }));
    EXPECT_EQ(request, Request(0, 0));
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(out.files, (std::map<std::string, std::string>{{"f.gz", "z"}}));
}

TEST_F(UpdateDlgTest, AnnouncedTotalAboveTheLimitIsAcceptedOnLoopback) {
    const Outcome out = Run(Serve([](ServerConn& c) {
        c.Send(VersionReply(1, 0));
        c.Recv(9);
        c.Send(ListHeader(1, 0, 104857601) + File("f", 1, "z"));
        c.WaitPeerClose();
    }));
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(out.received.size(), 1u);
    EXPECT_EQ(out.total, "1/104857601");
}

// --- Version reply and the local record -------------------------------------

struct UpToDateCase {
    const char* name;
    const char* record; // nullptr: no File.ver
    std::uint32_t v0, v1;
    bool update;
};

void PrintTo(const UpToDateCase& c, std::ostream* os) {
    *os << c.name;
}

class UpToDateTest : public UpdateDlgTest, public ::testing::WithParamInterface<UpToDateCase> {};

TEST_P(UpToDateTest, SendsARequestOnlyWhenTheServerHasANewerValue) {
    const UpToDateCase& c = GetParam();
    if (c.record)
        WriteRecord(c.record);
    std::string request;
    const Outcome out = Run(Serve([&request, c](ServerConn& conn) {
        conn.Send(VersionReply(c.v0, c.v1));
        request = conn.Recv(9, 300);
        if (!request.empty())
            conn.Send(ListHeader(0, 0, 0));
    }));
    EXPECT_EQ(!request.empty(), c.update);
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(out.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpToDateTest,
    ::testing::Values(UpToDateCase{"EqualPair", "1 5 7 4", 5, 7, false},
                      UpToDateCase{"OlderServer", "1 5 7 4", 4, 7, false},
                      UpToDateCase{"GroupZeroLowerGroupOneHigher", "1 5 7 4", 4, 8, true},
                      UpToDateCase{"NoRecordZeroServer", nullptr, 0, 0, false},
                      UpToDateCase{"NoRecordNewerServer", nullptr, 0, 1, true},
                      UpToDateCase{"UnsignedCompare", "1 -1 0 0", 2147483648u, 0, false}),
    [](const ::testing::TestParamInfo<UpToDateCase>& i) { return std::string(i.param.name); });

TEST_F(UpdateDlgTest, RedirectIsIgnoredOnLoopback) {
    std::string request;
    const Outcome out = Run(Serve([&request](ServerConn& c) {
        c.Send(VersionReply(1, 0, 0x04030201u)); // 1.2.3.4
        request = c.Recv(9);
        c.Send(ListHeader(0, 0, 0));
    }));
    EXPECT_EQ(request, Request(0, 0));
    EXPECT_TRUE(out.boxes.empty());
}

// --- Failures ---------------------------------------------------------------

struct FailureCase {
    const char* name;
    const char* record;       // nullptr: no File.ver
    std::string afterRequest; // sent after the version request ("" : no request expected)
    std::string reply;
    std::string message;
    tvhost::BoxIcon icon;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class FailureTest : public UpdateDlgTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, ClosesShowsTheMessageAndEndsKeepingCompletedFiles) {
    const FailureCase& c = GetParam();
    if (c.record)
        WriteRecord(c.record);
    bool closedByClient = false;
    const Outcome out = Run(Serve([&closedByClient, c](ServerConn& conn) {
        conn.Send(c.reply);
        if (!c.afterRequest.empty()) {
            conn.Recv(9);
            conn.Send(c.afterRequest);
        }
        closedByClient = conn.WaitPeerClose();
    }));
    ASSERT_FALSE(out.timedOut);
    EXPECT_EQ(out.result, 0);
    ASSERT_EQ(out.BoxTexts(), std::vector<std::string>{c.message});
    EXPECT_EQ(out.boxes[0].icon, c.icon);
    EXPECT_EQ(out.boxes[0].caption, "torvane-update");
    EXPECT_TRUE(closedByClient);
    for (const auto& [path, data] : out.files)
        EXPECT_TRUE(path == "done.gz" || path.find("part") == 0) << "unexpected file " << path;
    if (!c.afterRequest.empty() && c.afterRequest.find("done") != std::string::npos) {
        EXPECT_EQ(out.received, std::vector<std::string>{"done"});
        EXPECT_EQ(out.files.at("done.gz"), "ok");
        EXPECT_EQ(out.version[0], 3u) << "the completed file's version stands";
    }
}

const std::string kDone = ListHeader(2, 0, 4) + File("done", 3, "ok");

INSTANTIATE_TEST_SUITE_P(
    Table, FailureTest,
    ::testing::Values(
        FailureCase{"ReplyTagNotOne", nullptr, "", VersionReply(1, 1, 0, 2), kMsgVersionMismatch,
                    tvhost::BoxIcon::Error},
        FailureCase{"DamagedRecord", "1 5 7 5", "", VersionReply(9, 9), kMsgDamaged,
                    tvhost::BoxIcon::Error},
        FailureCase{"RecordWithoutFourNumbers", "1 5", "", VersionReply(9, 9), kMsgDamaged,
                    tvhost::BoxIcon::Error},
        FailureCase{"EmptyRecord", "", "", VersionReply(9, 9), kMsgDamaged, tvhost::BoxIcon::Error},
        FailureCase{"RecordOfAnotherFormat", "2 10 20 a", "", VersionReply(99, 99),
                    kMsgVersionMismatch, tvhost::BoxIcon::Error},
        // Headers a conforming server never sends.
        FailureCase{"HeaderShorterThan11", nullptr, kDone + tvtest::RawFileHeader(10, 1, 0, ""),
                    VersionReply(5, 0), kMsgVersionMismatch, tvhost::BoxIcon::Error},
        FailureCase{"HeaderWithoutNul", nullptr, kDone + tvtest::RawFileHeader(14, 1, 0, "abcd"),
                    VersionReply(5, 0), kMsgVersionMismatch, tvhost::BoxIcon::Error},
        FailureCase{"NameLongerThan256", nullptr,
                    kDone + tvtest::RawFileHeader(10 + 258, 1, 0, std::string(257, 'n') + '\0'),
                    VersionReply(5, 0), kMsgVersionMismatch, tvhost::BoxIcon::Error},
        FailureCase{"NegativeBodyLength", nullptr,
                    kDone + tvtest::RawFileHeader(12, 1, -1, "n") + '\0', VersionReply(5, 0),
                    kMsgVersionMismatch, tvhost::BoxIcon::Error},
        FailureCase{"HeaderLongerThanTheBuffer", nullptr,
                    kDone + tvtest::RawFileHeader(2049, 1, 0, std::string(2039, 'n')),
                    VersionReply(5, 0), kMsgVersionMismatch, tvhost::BoxIcon::Error}),
    [](const ::testing::TestParamInfo<FailureCase>& i) { return std::string(i.param.name); });

class RefusedNameTest : public UpdateDlgTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(RefusedNameTest, ShowsTheNameAndKeepsTheFileBeforeIt) {
    const std::string name = GetParam();
    const Outcome out = Run(Serve([name](ServerConn& c) {
        c.Send(VersionReply(5, 0));
        c.Recv(9);
        c.Send(kDone + File(name, 1, "y"));
        c.WaitPeerClose();
    }));
    ASSERT_FALSE(out.timedOut);
    ASSERT_EQ(out.BoxTexts(), std::vector<std::string>{"Can't create file " + name + ".gz"});
    EXPECT_EQ(out.boxes[0].icon, tvhost::BoxIcon::Error);
    EXPECT_EQ(out.received, std::vector<std::string>{"done"});
    EXPECT_EQ(out.files, (std::map<std::string, std::string>{{"done.gz", "ok"}}));
    EXPECT_EQ(out.version[0], 3u) << "the completed file's version stands";
}

INSTANTIATE_TEST_SUITE_P(Catalogue, RefusedNameTest, ::testing::ValuesIn(tvtest::RefusedNames()));

TEST_F(UpdateDlgTest, NameOf256BytesIsAccepted) {
    // Components stay below the host's 255-byte limit for one name.
    const std::string name = "d\\" + std::string(125, 'n') + "\\" + std::string(128, 'm');
    ASSERT_EQ(name.size(), 256u);
    const Outcome out = Run(Serve([name](ServerConn& c) {
        c.Send(VersionReply(1, 0));
        c.Recv(9);
        c.Send(ListHeader(1, 0, 1) + File(name, 1, "z"));
        c.WaitPeerClose();
    }));
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(out.received, std::vector<std::string>{name});
}

TEST_F(UpdateDlgTest, ConnectFailureShowsMessageTwoAndClosesTheWindow) {
    unsigned deadPort = 0;
    {
        tvtest::ScriptedServer gone([](ServerConn&) {});
        deadPort = gone.Port(); // nobody listens there once it is gone
    }
    const Outcome out = Run(Serve([](ServerConn&) {}), "127.0.0.1", deadPort);
    ASSERT_EQ(out.BoxTexts(), std::vector<std::string>{kMsgConnectFailed});
    EXPECT_EQ(out.boxes[0].icon, tvhost::BoxIcon::Error);
    EXPECT_EQ(out.result, IDCANCEL) << "the posted close request ends the window";
}

TEST_F(UpdateDlgTest, FileThatCannotBeCreatedEndsTheExchange) {
    fs::create_directory("blocked.gz");
    const Outcome out = Run(Serve([](ServerConn& c) {
        c.Send(VersionReply(1, 0));
        c.Recv(9);
        c.Send(ListHeader(2, 0, 2) + File("done", 1, "o") + File("blocked", 1, "x"));
        c.WaitPeerClose();
    }));
    ASSERT_EQ(out.BoxTexts(), std::vector<std::string>{"Can't create file blocked.gz"});
    EXPECT_EQ(out.boxes[0].icon, tvhost::BoxIcon::Error);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.received, std::vector<std::string>{"done"});
}

TEST_F(UpdateDlgTest, BodyThatCannotBeWrittenIsNotCountedAsReceived) {
    // A full disk: every write to /dev/full fails with ENOSPC.
    fs::create_symlink("/dev/full", "full.gz");
    const Outcome out = Run(Serve([](ServerConn& c) {
        c.Send(VersionReply(1, 0));
        c.Recv(9);
        c.Send(ListHeader(2, 0, 3) + File("done", 1, "o") + File("full", 2, "xy"));
        c.WaitPeerClose();
    }));
    ASSERT_EQ(out.BoxTexts(), std::vector<std::string>{"Can't create file full.gz"});
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.received, std::vector<std::string>{"done"});
    EXPECT_EQ(out.version[0], 1u) << "the lost file's version is not taken over";
}

TEST_F(UpdateDlgTest, WithoutASocketTheWindowStaysOpenUntilClosed) {
    tvhost::syscalls.socket = [](int, int, int) {
        errno = EMFILE;
        return -1;
    };
    bool panelCreated = true;
    m_rec->SetModalStartScript([&panelCreated](UINT nIDTemplate, HWND hDlg) {
        if (nIDTemplate != IDD_UPDATE_DIALOG)
            return;
        panelCreated = static_cast<CUpdateDlg*>(CWnd::FromHandle(hDlg))->m_waitDlg.GetSafeHwnd();
        tvhost::PostKey(tvhost::Key::Escape);
    });
    const Outcome out = Run(Serve([](ServerConn&) {}));
    EXPECT_FALSE(out.timedOut);
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(out.result, IDCANCEL);
    EXPECT_FALSE(panelCreated) << "no wait panel without a connection";
}

TEST_F(UpdateDlgTest, EmptyServerAddressFailsToConnect) {
    const Outcome out = Run(Serve([](ServerConn&) {}), "");
    EXPECT_EQ(out.BoxTexts(), std::vector<std::string>{kMsgConnectFailed});
}

TEST_F(UpdateDlgTest, ResetMidFileShowsMessageFourAndKeepsCompletedFiles) {
    const Outcome out = Run(Serve([this](ServerConn& c) {
        c.Send(VersionReply(3, 0));
        c.Recv(9);
        c.Send(ListHeader(2, 0, 10) + File("first", 2, "12345") +
               tvtest::FileHeader("second", 3, 5) + "ab");
        // A reset discards what the client has not read yet: it goes once
        // the window shows the two bytes of the second body.
        WaitFor([this] { return m_rec->Text(IDC_CURRENT) == "2/5"; });
        c.Reset();
    }));
    ASSERT_FALSE(out.timedOut);
    EXPECT_EQ(out.BoxTexts(), std::vector<std::string>{kMsgConnectionLost});
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.received, std::vector<std::string>{"first"});
    EXPECT_EQ(out.version[0], 2u);
    EXPECT_EQ(out.files.at("second.gz"), "ab") << "the partial body stays on disk, unlisted";
}

TEST_F(UpdateDlgTest, OrderlyCloseMidExchangeShowsNothingAndLeavesTheWindowOpen) {
    const Outcome out = Run(Serve([](ServerConn& c) {
        c.Send(VersionReply(3, 0));
        c.Recv(9);
        c.Send(ListHeader(2, 0, 10) + File("first", 2, "12345"));
        c.Close();
        // Only the user ends the window now: Escape comes once the close
        // has been handled (its install step has taken the file).
        WaitFor([] { return !tvtest::Decompressed().empty(); });
        tvhost::PostKey(tvhost::Key::Escape);
    }));
    ASSERT_FALSE(out.timedOut);
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(out.result, IDCANCEL);
    EXPECT_EQ(out.received, std::vector<std::string>{"first"});
}

// --- Waiting and progress in the caption ------------------------------------

// A server that goes quiet is given up after the configured limit exactly as
// if it had closed the connection with an error: the completed files are
// installed and message 4 is shown. Past five seconds of silence the caption
// says how long the client has been waiting.
TEST_F(UpdateDlgTest, InactivityLimitEndsTheExchangeAsALostConnection) {
    struct Case {
        const char* what;
        UINT timeout;
        bool stallAfterAFile; // else silent from the start
    } cases[] = {{"silent from the start", 1, false}, {"stalled mid-file", 6, true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        m_rec->Clear();
        tvtest::ClearDecompressed();
        g_nTimeout = k.timeout;
        const auto start = std::chrono::steady_clock::now();
        const Outcome out = Run(Serve([&k](ServerConn& c) {
            if (k.stallAfterAFile) {
                c.Send(VersionReply(3, 0));
                c.Recv(9);
                c.Send(ListHeader(2, 0, 10) + File("first", 2, "12345") +
                       tvtest::FileHeader("second", 3, 5) + "ab");
            }
            c.WaitPeerClose(20000);
        }));
        g_nTimeout = DEFAULT_TIMEOUT;
        const auto waited = std::chrono::steady_clock::now() - start;
        ASSERT_FALSE(out.timedOut);
        EXPECT_GE(waited, std::chrono::seconds(k.timeout));
        EXPECT_EQ(out.BoxTexts(), std::vector<std::string>{kMsgConnectionLost});
        EXPECT_EQ(out.result, 0);
        const auto captions = m_rec->TextHistory(0);
        if (k.stallAfterAFile) {
            EXPECT_EQ(out.received, std::vector<std::string>{"first"});
            EXPECT_EQ(out.version[0], 2u);
            EXPECT_NE(std::find(captions.begin(), captions.end(),
                                "Torvane Update - waiting for the server (5 s)"),
                      captions.end());
        } else {
            EXPECT_TRUE(out.received.empty());
        }
        if (!captions.empty()) {
            EXPECT_EQ(captions.back(), "Torvane Update") << "the plain caption once it gives up";
        }
    }
}

// Body pieces at a steady pace: the caption shows the percentage of the
// total, never going back, the rate near the pace and the time left; the
// plain caption comes back when the transfer is over.
TEST_F(UpdateDlgTest, CaptionShowsPercentRateAndTimeLeftFromAPacedServer) {
    const std::size_t kPiece = 10000, kPieces = 40; // 200 KB/s at 50 ms a piece
    const Outcome out = Run(Serve([&](ServerConn& c) {
        c.Send(VersionReply(1, 0));
        c.Recv(9);
        const std::string body = Body(kPiece * kPieces, 'p');
        c.Send(ListHeader(1, 0, static_cast<std::int32_t>(body.size())) +
               tvtest::FileHeader("paced", 1, static_cast<std::int32_t>(body.size())));
        c.SendPieces(body, kPiece, 50);
        c.WaitPeerClose();
    }));
    ASSERT_FALSE(out.timedOut);
    EXPECT_EQ(out.received, std::vector<std::string>{"paced"});
    const auto captions = m_rec->TextHistory(0);
    const std::regex figures(
        R"(Torvane Update - (\d+) %( - ([0-9.]+) (KB|MB)/s( - (\d+):(\d\d) left)?)?)");
    int lastPercent = -1, withTimeLeft = 0;
    for (const std::string& caption : captions) {
        std::smatch m;
        if (!std::regex_match(caption, m, figures))
            continue;
        const int percent = std::stoi(m[1]);
        EXPECT_GE(percent, lastPercent) << caption;
        EXPECT_LE(percent, 100) << caption;
        lastPercent = percent;
        if (!m[3].matched)
            continue;
        const double kbps = std::stod(m[3]) * (m[4] == "MB" ? 1024 : 1);
        EXPECT_GT(kbps, 40) << caption;
        EXPECT_LT(kbps, 600) << caption;
        if (m[5].matched) {
            ++withTimeLeft;
            EXPECT_LE(std::stoi(m[6]) * 60 + std::stoi(m[7]), 30) << caption;
        }
    }
    EXPECT_GT(lastPercent, 50) << ::testing::PrintToString(captions);
    EXPECT_GT(withTimeLeft, 0) << ::testing::PrintToString(captions);
    EXPECT_EQ(captions.back(), "Torvane Update");
}

// The please-wait panel shows an install's figures below its notice, which
// stays as it is, and hides them again afterwards.
TEST_F(UpdateDlgTest, WaitPanelShowsInstallProgressBelowItsNotice) {
    std::string shownText;
    bool shownBar = false;
    m_rec->SetModalStartScript([&](UINT nIDTemplate, HWND hDlg) {
        CancelServerSelection(nIDTemplate, hDlg);
        if (nIDTemplate != IDD_UPDATE_DIALOG)
            return;
        CWaitDlg& panel = static_cast<CUpdateDlg*>(CWnd::FromHandle(hDlg))->m_waitDlg;
        WaitProgress p{2, 5, 3 << 20, 12 << 20};
        panel.ShowWindow(SW_SHOW);
        panel.SendMessage(WM_WAIT_PROGRESS, 0, reinterpret_cast<LPARAM>(&p));
        CString text;
        panel.GetDlgItem(IDC_WAIT_PROGRESS)->GetWindowText(text);
        shownText = text.GetString();
        shownBar = panel.GetDlgItem(IDC_WAIT_BAR)->IsWindowVisible();
        panel.HideProgress();
        panel.ShowWindow(SW_HIDE);
        tvhost::PostKey(tvhost::Key::Escape);
    });
    Run(Serve([](ServerConn& c) { c.WaitPeerClose(); }));
    EXPECT_EQ(shownText, "2/5 files - 3.0 MB");
    EXPECT_TRUE(shownBar);
    const auto bar = m_rec->Progress(IDC_WAIT_BAR);
    ASSERT_FALSE(bar.empty());
    EXPECT_EQ(bar.back().pos * 4, bar.back().high) << "3 of 12 MB";
    EXPECT_EQ(m_rec->TextHistory(-1).size(), 0u) << "the notice itself is never set";
}

} // namespace
