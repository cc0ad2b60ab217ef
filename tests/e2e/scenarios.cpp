// The scenario table (see scenario.h): the whole update, its failures, the
// server list and the game start, the names the client refuses, the hostile
// server catalogue and the cases off loopback.
#include "gzip_encoder.h"
#include "refused_names.h"
#include "scenario.h"

#include <cctype>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace tvtest {

namespace {

const char kMsgConnectFailed[] = "서버 접속에 실패했습니다.\n잠시 후 재 실행 하세요.";
const char kMsgClientFailed[] = "'Torvane'를 실행할 수 없습니다.\n재 설치 후 다시 시작하세요.";
const char kMsgConnectionLost[] = "서버와의 연결이 해제 되었습니다.\n재 실행 하세요.";
const char kMsgVersionMismatch[] = "버전이 일치하지 안습니다.\n최신 버전으로 재 설치하세요.";
const char kMsgTooMany[] = "다운로드 받을 파일이 너무 많습니다. \n최신 버전으로 재 설치하세요.";
const char kWaitText[] = "파일을 갱신중 입니다. 잠시만 기다려 주십시요.";
const char kThreeServers[] = "[Server]\nCount=3\nName0=Alpha\nIP0=10.0.0.1\nName1=Beta\n"
                             "IP1=10.0.0.2\nName2=Gamma\nIP2=10.0.0.3\n";
const char kThreeShown[] = "Server Select\n  1. Alpha\n  2. Beta\n  3. Gamma\n";
const char kNoAddress[] = "/IP:255.255.255.255";

std::string Error(const std::string& text) {
    return "torvane-update: error: " + text + "\n";
}

std::string Gzip(const std::string& plain) {
    const auto gz =
        tvserver::GzipEncode(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), 0);
    return std::string(gz.begin(), gz.end());
}

std::string Text(std::size_t n, char seed) {
    std::string s;
    while (s.size() < n)
        s += std::string("line ") + seed + " " + std::to_string(s.size()) + "\n";
    return s.substr(0, n);
}

std::string Binary(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += static_cast<char>((i * 2654435761u) >> 24);
    return s;
}

// ---- The reference server's content ------------------------------------------

// Five newer files (a name with a space in a directory, a binary file, an
// empty one, the version record, which stays as received) and one the
// client already has.
void StandardContent(Stage& st) {
    st.Write(st.content / "readme.txt", Text(5000, 'r'));
    st.Write(st.content / "empty.dat", "");
    st.Write(st.content / "maps" / "track.map", Text(70000, 'm'));
    st.Write(st.content / "sound.bin", Binary(70000));
    st.Write(st.content / "record.txt", "a record from the server");
    st.Write(st.content / "manifest.txt", "version 3 2\n"
                                          "file 0 2 readme.txt readme.txt\n"
                                          "file 0 3 \"Data\\Maps\\track one.map\" maps/track.map\n"
                                          "file 0 2 empty.dat empty.dat\n"
                                          "file 1 2 sound.bin sound.bin\n"
                                          "file 1 1 old.bin sound.bin\n"
                                          "file 1 2 File.ver record.txt\n");
}

Scenario CompleteUpdate() {
    Scenario s;
    s.name = "CompleteUpdateInstallsRecordsListsAndStartsTheGame";
    s.input = "\n";
    s.args = {"-window"};
    s.arrange = [](Stage& st, Expect& e) {
        StandardContent(st);
        st.Record("1 1 1 1");
        st.ServerList(kThreeServers);
        ServerProcess* server = &st.ServeContent();
        e.check = [server](Stage&, const RunResult&) {
            EXPECT_NE(server->Finish().find("pair=1,1 files=5/5"), std::string::npos);
        };
        long long total = 0;
        for (const char* name :
             {"readme.txt", "Data\\Maps\\track one.map", "empty.dat", "sound.bin", "File.ver"})
            total += static_cast<long long>(PublishedBody(st.content.string(), name).size());
        const std::string t = std::to_string(total);
        e.outHas = {kWaitText, "File Count 5/5", "Total " + t + "/" + t, kThreeShown};
        e.files = {{"readme.txt", Text(5000, 'r')},
                   {"Data/Maps/track one.map", Text(70000, 'm')},
                   {"empty.dat", ""},
                   {"sound.bin", Binary(70000)},
                   {"null.dat.gz", PublishedBody(st.content.string(), "File.ver")}};
    };
    s.expect.absent = {"readme.txt.gz", "Data/Maps/track one.map.gz",
                       "empty.dat.gz",  "sound.bin.gz",
                       "null.dat",      "old.bin",
                       "old.bin.gz"};
    s.expect.record = "1 3 2 2";
    s.expect.gameStarted = true;
    s.expect.gameArgs = {"-Update", "/IP:10.0.0.1", "-window"};
    s.wineDiffers = "the robot looks at the windows every 10 ms (every 2 ms for a panel once "
                    "it has seen the window): the install of these few small files can be "
                    "shorter, so the please-wait panel is looked for in the many-files row";
    s.onWine = [](Scenario& w) {
        const auto arrange = w.arrange;
        w.arrange = [arrange](Stage& st, Expect& e) {
            arrange(st, e);
            e.outHas.erase(e.outHas.begin()); // the panel's text
        };
    };
    return s;
}

// An install long enough for anyone to see the please-wait panel.
Scenario ManyFiles() {
    Scenario s;
    s.name = "ManyFilesShowThePleaseWaitPanelWhileTheyAreInstalled";
    s.input = "\n";
    constexpr int kFiles = 120;
    s.arrange = [](Stage& st, Expect& e) {
        std::string manifest = "version 2 0\n";
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = "f" + std::to_string(i) + ".txt";
            st.Write(st.content / name, Text(2000, static_cast<char>('a' + i % 26)));
            manifest += "file 0 2 \"Data\\" + name + "\" " + name + "\n";
            e.files.push_back({"Data/" + name, Text(2000, static_cast<char>('a' + i % 26))});
        }
        st.Write(st.content / "manifest.txt", manifest);
        st.Record("1 1 0 0");
        st.ServerList(kThreeServers);
        st.ServeContent();
    };
    const std::string n = std::to_string(kFiles);
    s.expect.outHas = {kWaitText, "File Count " + n + "/" + n, kThreeShown};
    s.expect.absent = {"Data/f0.txt.gz", "Data/f119.txt.gz"};
    s.expect.record = "1 2 0 1";
    s.expect.gameStarted = true;
    s.expect.gameArgs = {"-Update", "/IP:10.0.0.1"};
    s.wineDiffers = "the robot looks at the windows from another process: the progress window "
                    "can end between two looks once the panel hides, so its final counters may "
                    "be seen only before the panel's text";
    s.onWine = [n](Scenario& w) {
        const std::string counted = "File Count " + n + "/" + n;
        w.expect.outHas = {kWaitText, kThreeShown};
        w.expect.check = [counted](Stage&, const RunResult& r) {
            EXPECT_LT(r.out.find(counted), r.out.find(kThreeShown)) << r.out;
        };
    };
    return s;
}

Scenario UpToDate() {
    Scenario s;
    s.name = "UpToDateClientDownloadsNothingAndShowsTheList";
    s.input = "\n";
    s.arrange = [](Stage& st, Expect& e) {
        StandardContent(st);
        st.Record("1 3 2 2");
        st.ServerList(kThreeServers);
        ServerProcess* server = &st.ServeContent();
        e.check = [server](Stage&, const RunResult&) {
            EXPECT_NE(server->Finish().find("no version request"), std::string::npos);
        };
    };
    s.expect.outHas = {kThreeShown};
    s.expect.absent = {"readme.txt", "readme.txt.gz", "null.dat.gz"};
    s.expect.record = "1 3 2 2";
    s.expect.gameStarted = true;
    s.expect.gameArgs = {"-Update", "/IP:10.0.0.1"};
    return s;
}

Scenario FailedConnect() {
    Scenario s;
    s.name = "FailedConnectShowsMessageTwo";
    s.arrange = [](Stage& st, Expect&) {
        st.ServerList(kThreeServers);
        st.ServeNothing();
    };
    s.expect.err = Error(kMsgConnectFailed);
    s.expect.outLacks = {"Server Select"};
    return s;
}

// ---- Scripted exchanges ----------------------------------------------------------

// The version reply, then (after the request) stream, then the end the
// script gives (by default: wait for the client to go).
ScriptedServer::Script Serving(std::uint32_t v0, std::uint32_t v1, std::string stream,
                               std::function<void(ServerConn&)> end = nullptr) {
    return [=](ServerConn& c) {
        c.Send(VersionReply(v0, v1));
        c.Recv(9);
        c.Send(stream);
        if (end)
            end(c);
        else
            c.WaitPeerClose(20000);
    };
}

// Three files of which the second fails to decompress: the first stays
// installed, the third is not tried, the record stays; the install step runs
// once more when the window goes and meets the first file again, already
// installed.
Scenario FailedDecompression(const std::string& name, const std::string& bad,
                             const std::string& diagnostic) {
    Scenario s;
    s.name = name;
    s.arrange = [bad](Stage& st, Expect&) {
        st.Record("1 1 0 0");
        st.ServerList(kThreeServers);
        st.ServeScript(Serving(5, 0,
                               ListHeader(3, 0, 1000) + File("a", 2, Gzip("alpha")) +
                                   File("b", 3, bad) + File("c", 4, Gzip("charlie"))));
    };
    s.expect.err = diagnostic + Error("Can't decompress b.gz") +
                   "a.gz: No such file or directory\n" + Error("Can't decompress a.gz");
    s.expect.files = {{"a", "alpha"}, {"c.gz", Gzip("charlie")}};
    s.expect.absent = {"c"};
    s.expect.outHas = {kThreeShown};
    s.expect.record = "1 1 0 0";
    return s;
}

// The player is told which file could not be installed; the file the update
// was replacing is kept.
Scenario CorruptBody() {
    Scenario s;
    s.name = "CorruptBodyEndsTheProcessWithCodeOne";
    s.arrange = [](Stage& st, Expect&) {
        st.Record("1 1 0 0");
        st.Write(st.work / "b", "the installed b");
        std::string corrupt = Gzip(Text(3000, 'b'));
        corrupt[corrupt.size() - 8] ^= 0x55; // the CRC-32 of the member
        st.ServeScript(Serving(5, 0,
                               ListHeader(3, 0, 1000) + File("a", 2, Gzip("alpha")) +
                                   File("b", 3, corrupt) + File("c", 4, Gzip("charlie"))));
    };
    s.expect.exitCode = 1;
    s.expect.err =
        "\ngzip: b.gz: invalid compressed data--crc error\n" + Error("Can't decompress b.gz");
    s.expect.files = {{"a", "alpha"}, {"b", "the installed b"}};
    s.expect.absent = {"b.~tv", "c"};
    s.expect.record = "1 1 0 0";
    return s;
}

bool RecordIs(const Stage& st, const std::string& plain) {
    return fs::exists(st.work / "File.ver") && st.Record() == plain;
}

Scenario OrderlyClose() {
    Scenario s;
    s.name = "OrderlyCloseInstallsWhatArrivedAndLeavesTheWindowOpen";
    s.arrange = [](Stage& st, Expect&) {
        st.Record("1 1 0 0");
        st.ServerList(kThreeServers);
        st.ServeScript(Serving(5, 5,
                               ListHeader(3, 0, 1000) + File("a", 2, Gzip("alpha")) +
                                   File("b", 3, Gzip("bravo")),
                               [](ServerConn& c) { c.Close(); }));
    };
    // Once installed, the window stays: only the close box ends it (a grace
    // period shows that it does not end by itself).
    s.closeWhen = [](const Stage& st, const std::string&) { return RecordIs(st, "1 3 0 1"); };
    s.closeGraceMs = 300;
    s.expect.files = {{"a", "alpha"}, {"b", "bravo"}};
    s.expect.record = "1 3 0 1";
    s.expect.outLacks = {"Server Select"};
    return s;
}

Scenario ResetMidFile() {
    Scenario s;
    s.name = "ResetInstallsWhatArrivedThenShowsMessageFour";
    s.arrange = [](Stage& st, Expect&) {
        st.Record("1 1 0 0");
        st.ServerList(kThreeServers);
        Stage* stage = &st;
        st.ServeScript(Serving(5, 0,
                               ListHeader(2, 0, 1000) + File("a", 2, Gzip("alpha")) +
                                   FileHeader("b", 3, 500) + "part of b",
                               [stage](ServerConn& c) {
                                   stage->WaitCue();
                                   c.Reset();
                               }));
    };
    // A reset discards what the client has not read yet: it comes once the
    // window shows the bytes of b.
    s.cueWhen = [](const Stage&, const std::string& out) {
        return out.find("Current 9/500") != std::string::npos;
    };
    s.expect.err = Error(kMsgConnectionLost);
    s.expect.files = {{"a", "alpha"}, {"b.gz", "part of b"}};
    s.expect.record = "1 2 0 1";
    s.expect.outHas = {kWaitText};
    s.expect.outLacks = {"Server Select"};
    s.wineDiffers = "Wine reports a reset as an orderly close (FD_CLOSE with error 0), so "
                    "there is no message and the window stays open until closed";
    s.onWine = [](Scenario& w) {
        w.expect.err = "";
        w.expect.outHas = {};
        w.closeWhen = [](const Stage& st, const std::string&) { return RecordIs(st, "1 2 0 1"); };
    };
    return s;
}

Scenario CloseDuringTransfer() {
    Scenario s;
    s.name = "CloseBoxDuringTheTransferInstallsWhatArrived";
    s.arrange = [](Stage& st, Expect&) {
        st.Record("1 1 0 0");
        st.ServerList(kThreeServers);
        st.ServeScript(Serving(5, 0,
                               ListHeader(2, 0, 1000) + File("a", 2, Gzip("alpha")) +
                                   FileHeader("b", 3, 500) + "part of b"));
    };
    s.closeWhen = [](const Stage&, const std::string& out) {
        return out.find("Current 9/500") != std::string::npos;
    };
    s.expect.files = {{"a", "alpha"}, {"b.gz", "part of b"}};
    s.expect.record = "1 2 0 1";
    s.expect.outLacks = {"Server Select"};
    return s;
}

// ---- The server list and the game start ------------------------------------------

std::string LongList() {
    std::string s = "[Server]\nCount=12\n";
    for (int i = 0; i < 12; ++i)
        s += "Name" + std::to_string(i) + "=Server number " + std::to_string(i + 1) + "\nIP" +
             std::to_string(i) + "=192.168.1." + std::to_string(i + 1) + "\n";
    return s;
}

struct ListRow {
    const char* name;
    const char* list; // plain Server.cnv; nullptr: no file
    const char* input;
    std::vector<std::string> args;
    const char* client;
    const char* shown;                 // in stdout ("": no check)
    std::vector<std::string> gameArgs; // empty: not started
    const char* message;               // "": none
};

Scenario ListScenario(const ListRow& row) {
    Scenario s;
    s.name = std::string("ServerList") + row.name;
    s.input = row.input;
    s.args = row.args;
    const std::string list = row.list ? row.list : "";
    const bool hasList = row.list != nullptr;
    const std::string client = row.client;
    s.arrange = [list, hasList, client](Stage& st, Expect&) {
        StandardContent(st);
        if (hasList)
            st.ServerList(list == "long" ? LongList() : list);
        st.Record("1 3 2 2"); // up to date: straight to the list
        st.Config(st.ServeContent().Port(), client);
    };
    if (*row.shown)
        s.expect.outHas = {row.shown};
    s.expect.err = *row.message ? Error(row.message) : "";
    s.expect.gameStarted = !row.gameArgs.empty();
    s.expect.gameArgs = row.gameArgs;
    s.expect.gameDir = client.find('\\') != std::string::npos ? "game" : ".";
    s.expect.record = "1 3 2 2";
    s.expect.check = [hasList](Stage& st, const RunResult&) {
        EXPECT_TRUE(fs::exists(st.work / "Server.cnv"));
        if (!hasList) {
            EXPECT_EQ(fs::file_size(st.work / "Server.cnv"), 0u) << "created empty";
        }
    };
    return s;
}

std::vector<Scenario> ListScenarios() {
    const char* game = "game\\{game}";
    const std::vector<ListRow> rows = {
        {"EnterTakesTheFirst",
         kThreeServers,
         "\n",
         {},
         game,
         kThreeShown,
         {"-Update", "/IP:10.0.0.1"},
         ""},
        {"NumberSelects", kThreeServers, "2\n", {}, game, "", {"-Update", "/IP:10.0.0.2"}, ""},
        {"QuitCancels", kThreeServers, "q\n", {}, game, "", {}, ""},
        {"EndOfInputCancels", kThreeServers, "", {}, game, "", {}, ""},
        {"EmptyList", "[Server]\nCount=0\n", "\n", {}, game, "", {"-Update", kNoAddress}, ""},
        {"CountAboveTheEntries",
         "[Server]\nCount=3\nName0=Alpha\nIP0=10.0.0.1\n",
         "3\n",
         {},
         game,
         "  1. Alpha\n  2. \n  3. \n",
         {"-Update", kNoAddress},
         ""},
        {"MalformedAddress",
         "[Server]\nCount=1\nName0=Odd\nIP0=300.1.2.3\n",
         "\n",
         {},
         game,
         "",
         {"-Update", kNoAddress},
         ""},
        {"ListLongerThanOneBlock",
         "long",
         "12\n",
         {},
         game,
         "12. Server number 12\n",
         {"-Update", "/IP:192.168.1.12"},
         ""},
        {"MissingListIsCreatedEmpty",
         nullptr,
         "\n",
         {},
         game,
         "Server Select\n",
         {"-Update", kNoAddress},
         ""},
        {"OwnArgumentsPassedThroughUnchanged",
         kThreeServers,
         "\n",
         {"-window", "two words", "quote\"inside", "back\\slash\\", ""},
         game,
         "",
         {"-Update", "/IP:10.0.0.1", "-window", "two words", "quote\"inside", "back\\slash\\", ""},
         ""},
        {"ClientWithoutDirectoryStartsHere",
         kThreeServers,
         "\n",
         {},
         "{game}",
         "",
         {"-Update", "/IP:10.0.0.1"},
         ""},
        {"ClientThatCannotStart",
         kThreeServers,
         "\n",
         {},
         "game\\missing.exe",
         "",
         {},
         kMsgClientFailed},
    };
    std::vector<Scenario> out;
    for (const ListRow& row : rows)
        out.push_back(ListScenario(row));
    return out;
}

// ---- Names the client refuses ------------------------------------------------------

std::string Identifier(const std::string& text) {
    std::string id;
    for (unsigned char c : text)
        id += std::isalnum(c) ? static_cast<char>(c) : '_';
    return id;
}

// The file before the refused one stays installed; nothing appears outside
// the working directory.
Scenario RefusedName(const std::string& name, std::size_t index) {
    Scenario s;
    s.name = "RefusedName" + std::to_string(index) + "_" + Identifier(name);
    s.arrange = [name](Stage& st, Expect&) {
        st.ServeScript(Serving(
            5, 0, ListHeader(2, 0, 100) + File("done", 3, Gzip("ok")) + File(name, 1, "y")));
    };
    s.expect.err = Error("Can't create file " + name + ".gz");
    s.expect.files = {{"done", "ok"}};
    s.expect.absent = {"done.gz", "/tmp/tv-refused-name", "/tmp/tv-refused-name.gz"};
    s.expect.record = "1 3 0 1";
    return s;
}

// ---- The hostile server catalogue ---------------------------------------------------

Scenario Hostile(const std::string& name, const std::string& afterRequest, const std::string& err,
                 std::vector<std::string> present, std::vector<std::string> absent) {
    Scenario s;
    s.name = "Hostile" + name;
    s.arrange = [afterRequest, present](Stage& st, Expect& e) {
        st.Record("1 1 1 1");
        st.ServeScript(Serving(2, 2, afterRequest));
        e.check = [present](Stage& stage, const RunResult&) {
            for (const std::string& path : present)
                EXPECT_TRUE(fs::exists(stage.work / path)) << path;
        };
    };
    s.expect.err = err;
    s.expect.absent = std::move(absent);
    // File.ver moves only when every received file was installed.
    s.expect.record = err.empty() ? "1 2 1 1" : "1 1 1 1";
    return s;
}

std::vector<Scenario> HostileScenarios() {
    const std::string gz = Gzip("payload\n");
    auto one = [](const std::string& files, int n0 = 1) {
        return ListHeader(static_cast<std::uint16_t>(n0), 0, 100) + files;
    };
    std::string pad2048 = std::string("pad") + '\0';
    pad2048 += std::string(2048 - 10 - pad2048.size(), 'x');
    const std::string notGzip =
        "\ngzip: plain.txt.gz: not in gzip format\n" + Error("Can't decompress plain.txt.gz");
    std::vector<Scenario> rows = {
        Hostile("NameOf256Bytes", one(File("deep\\" + std::string(251, 'n'), 2, gz)), "",
                {"deep/" + std::string(251, 'n')}, {}),
        Hostile("NameOf257Bytes", one(File("deep\\" + std::string(252, 'n'), 2, gz)),
                Error(kMsgVersionMismatch), {}, {"deep"}),
        Hostile("HeaderLength10", one(RawFileHeader(10, 2, 0, "")), Error(kMsgVersionMismatch), {},
                {}),
        Hostile("HeaderLength2048",
                one(RawFileHeader(2048, 2, static_cast<std::int32_t>(gz.size()), pad2048) + gz), "",
                {"pad"}, {}),
        Hostile("HeaderLength2049", one(RawFileHeader(2049, 2, 0, "x") + std::string(2100, '\0')),
                Error(kMsgVersionMismatch), {}, {"x.gz"}),
        Hostile("NameWithoutItsNul", one(RawFileHeader(20, 2, 0, "abcdefghij")),
                Error(kMsgVersionMismatch), {}, {"abcdefghij.gz"}),
        Hostile("NegativeBodyLength", one(FileHeader("neg", 2, -1)), Error(kMsgVersionMismatch), {},
                {"neg.gz"}),
        // The decompressor's own diagnostic, then the message; the install
        // step runs again when the window goes, and fails the same way.
        Hostile("BodyThatIsNotGzip", one(File("plain.txt", 2, "hello")), notGzip + notGzip,
                {"plain.txt.gz"}, {"plain.txt"}),
        Hostile("UpdaterAndVersionRecordByName",
                one(File("update.EXE", 2, gz) + File("File.Ver", 2, "raw"), 2), "",
                {"Update0.exe", "null.dat.gz"}, {"update.EXE", "Update.exe"}),
    };
    // NOTE: rows[0] is the 256-byte name.
    const std::string deep = "deep\\" + std::string(251, 'n');
    rows[0].wineDiffers =
        "a Windows path holds at most 260 characters (MAX_PATH): after the working directory "
        "the 256-byte name is too long for the C runtime, which cannot create the "
        "decompressed file (Windows itself would refuse the received file already)";
    rows[0].onWine = [deep](Scenario& w) {
        const std::string failed =
            deep + ": File name too long\n" + Error("Can't decompress " + deep + ".gz");
        w.expect.err = failed + failed;
        w.expect.record = "1 1 1 1";
        w.expect.absent = {"deep/" + std::string(251, 'n')};
        const auto arrange = w.arrange;
        w.arrange = [arrange](Stage& st, Expect& e) {
            arrange(st, e);
            e.check = [](Stage& stage, const RunResult&) {
                EXPECT_TRUE(fs::exists(stage.work / ("deep/" + std::string(251, 'n') + ".gz")));
            };
        };
    };
    Scenario huge = Hostile("HugeBodyThenTheServerCloses",
                            one(FileHeader("huge", 2, 2147483647) + std::string(5000, 'h')), "",
                            {"huge.gz"}, {"huge"});
    huge.arrange = [](Stage& st, Expect& e) {
        st.Record("1 1 1 1");
        Stage* stage = &st;
        st.ServeScript(Serving(2, 2,
                               ListHeader(1, 0, 100) + FileHeader("huge", 2, 2147483647) +
                                   std::string(5000, 'h'),
                               [stage](ServerConn& c) {
                                   stage->WaitCue();
                                   c.Close();
                               }));
        e.check = [](Stage& stage, const RunResult&) {
            EXPECT_TRUE(fs::exists(stage.work / "huge.gz"));
        };
    };
    // The close comes once the window shows the whole partial body: while the
    // connection is open the caption carries the transfer's status, so even
    // a watcher that looks late sees a change to print.
    huge.cueWhen = [](const Stage&, const std::string& out) {
        return out.find("Current 5000/") != std::string::npos;
    };
    // The window stays after the close: the close box ends it.
    huge.closeWhen = [](const Stage&, const std::string& out) {
        return out.find(kWaitText) != std::string::npos;
    };
    huge.expect.record = "1 1 1 1";
    huge.wineDiffers = "the robot can miss a panel shown for a few milliseconds (the install "
                       "of nothing): the close comes once the caption is the title again, "
                       "which the client does when the connection has closed";
    huge.onWine = [](Scenario& w) {
        // A line of the whole partial body with no status after it.
        w.closeWhen = [](const Stage&, const std::string& out) {
            for (std::size_t at = out.find("Current 5000/"); at != std::string::npos;
                 at = out.find("Current 5000/", at + 1)) {
                const std::size_t end = out.find('\n', at);
                if (end != std::string::npos &&
                    out.substr(at, end - at).find(" - ") == std::string::npos)
                    return true;
            }
            return false;
        };
    };
    rows.push_back(std::move(huge));
    return rows;
}

// ---- Off loopback -------------------------------------------------------------------
//
// A client on 127.0.0.1 talks to a local test server and neither follows a
// redirect nor minds the download limit. Off loopback the runner names the
// addresses: the first server's (front) and the download server's (back,
// which a redirect reaches on port 43001).

std::uint32_t SocketOrder(const std::string& dotted) {
    std::uint32_t a = 0;
    int shift = 0;
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i, shift += 8) {
        a |= static_cast<std::uint32_t>(std::stoul(dotted.substr(at))) << shift;
        at = dotted.find('.', at) + 1;
    }
    return a;
}

void ConfigAt(const Stage& st, unsigned port) {
    st.Write(st.work / "Config.ini",
             "[Update]\nIP=" + st.frontAddr + "\nPort=" + std::to_string(port) + "\n");
}

Scenario Redirect() {
    Scenario s;
    s.name = "RedirectGoesToPort43001OfTheNamedServer";
    s.offLoopback = true;
    s.arrange = [](Stage& st, Expect& e) {
        const fs::path front = st.content / "front", back = st.content / "back";
        st.Write(front / "manifest.txt", "version 1 0\nredirect " + st.backAddr + "\n");
        st.Write(back / "manifest.txt", "version 1 0\nfile 0 1 got.txt got.txt\n");
        st.Write(back / "got.txt", "from the download server");
        auto f = std::make_shared<ServerProcess>(front.string(), st.frontAddr, 0);
        auto b = std::make_shared<ServerProcess>(back.string(), st.backAddr, 43001);
        ASSERT_NE(st.Hold(f).Port(), 0u);
        ASSERT_EQ(st.Hold(b).Port(), 43001u) << "port 43001 is taken";
        ConfigAt(st, f->Port());
        e.check = [f, b](Stage&, const RunResult&) {
            EXPECT_NE(f->Finish().find("no version request"), std::string::npos);
            EXPECT_NE(b->Finish().find("files=1/1"), std::string::npos);
        };
    };
    s.expect.files = {{"got.txt", "from the download server"}};
    return s;
}

Scenario RedirectBound() {
    Scenario s;
    s.name = "NinthRedirectFailsLikeAFailedConnect";
    s.offLoopback = true;
    s.arrange = [](Stage& st, Expect& e) {
        auto redirect = [to = SocketOrder(st.backAddr)](ServerConn& c) {
            c.Send(VersionReply(1, 0, to));
            c.WaitPeerClose();
        };
        auto first = std::make_shared<ScriptedServer>(std::vector<ScriptedServer::Script>{redirect},
                                                      st.frontAddr.c_str(), 0);
        auto ring = std::make_shared<ScriptedServer>(
            std::vector<ScriptedServer::Script>(9, redirect), st.backAddr.c_str(), 43001);
        ASSERT_TRUE(st.Hold(first).Listening());
        ASSERT_TRUE(st.Hold(ring).Listening()) << "port 43001 is taken";
        ConfigAt(st, first->Port());
        e.check = [first, ring](Stage&, const RunResult&) {
            EXPECT_EQ(first->Accepted() + ring->Accepted(), 9)
                << "eight redirects followed, then stop";
        };
    };
    s.expect.err = Error(kMsgConnectFailed);
    return s;
}

// Stored as null.dat.gz, which is never decompressed.
Scenario DownloadLimit(std::int32_t total, bool refused) {
    Scenario s;
    s.name = refused ? "TotalAboveOneHundredMebibytesIsRefused"
                     : "TotalOfExactlyOneHundredMebibytesIsAccepted";
    s.offLoopback = true;
    s.arrange = [total](Stage& st, Expect&) {
        auto server = std::make_shared<ScriptedServer>(
            std::vector<ScriptedServer::Script>{
                Serving(1, 0, ListHeader(1, 0, total) + File("File.ver", 1, "z"))},
            st.frontAddr.c_str(), 0);
        st.Hold(server);
        ConfigAt(st, server->Port());
    };
    if (refused) {
        s.expect.err = "torvane-update: information: " + std::string(kMsgTooMany) + "\n";
        s.expect.absent = {"null.dat.gz"};
    } else {
        s.expect.files = {{"null.dat.gz", "z"}};
    }
    return s;
}

std::vector<Scenario> Build() {
    std::vector<Scenario> all = {
        CompleteUpdate(),
        ManyFiles(),
        UpToDate(),
        FailedConnect(),
        FailedDecompression("BodyNoDecompressorRecognisesStopsTheInstall",
                            "plain text that no decompressor recognises",
                            "\ngzip: b.gz: not in gzip format\n"),
        FailedDecompression("BodyWithBytesAfterTheLastMemberStopsTheInstall",
                            Gzip("bravo") + "trailing bytes", ""),
        CorruptBody(),
        OrderlyClose(),
        ResetMidFile(),
        CloseDuringTransfer(),
        Redirect(),
        RedirectBound(),
        DownloadLimit(104857601, true),
        DownloadLimit(104857600, false),
    };
    for (Scenario& s : ListScenarios())
        all.push_back(std::move(s));
    for (Scenario& s : HostileScenarios())
        all.push_back(std::move(s));
    const std::vector<std::string>& names = RefusedNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        all.push_back(RefusedName(names[i], i));
    return all;
}

} // namespace

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> all = Build();
    return all;
}

} // namespace tvtest
