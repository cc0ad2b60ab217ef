// Playing one end-to-end scenario (test code: POSIX is fine).
#include "scenario.h"

#include "client_session.h"
#include "install/version_record.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace tvtest {

namespace {

std::string Scrambled(std::string text) {
    ScrambleText(text.data());
    return text;
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

// A Windows program's text-mode streams end lines with CR LF; the lines are
// the same.
std::string WithoutCarriageReturns(std::string s) {
    ReplaceAll(s, "\r\n", "\n");
    return s;
}

// The stand-in game's record: its working directory, then "<arg>" lines.
// Empty when it did not appear within waitMs.
std::vector<std::string> Launched(const fs::path& dir, int waitMs) {
    const fs::path file = dir / "launched.txt";
    for (int waited = 0; waited < waitMs && !fs::exists(file); waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

} // namespace

Stage::Stage(const fs::path& gameSource, const std::string& gameName) : game(gameName) {
    char templ[] = "/tmp/tv_scenario_XXXXXX";
    root = ::mkdtemp(templ);
    work = root / "work";
    content = root / "content";
    tmp = root / "tmp";
    for (const fs::path& d : {work / "game", content, tmp})
        fs::create_directories(d);
    for (const fs::path& d : {work / "game", work}) {
        fs::copy_file(gameSource, d / game);
        fs::permissions(d / game, fs::perms::owner_all);
    }
}

Stage::~Stage() {
    m_reference.reset();
    m_scripted.reset();
    m_held.clear();
    std::error_code ec;
    // Read-only leftovers must not block the clean-up.
    for (auto& e : fs::recursive_directory_iterator(root, ec))
        fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root, ec);
}

void Stage::Write(const fs::path& path, const std::string& data) const {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

std::string Stage::Read(const fs::path& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Stage::Record(const std::string& plain) const {
    Write(work / "File.ver", Scrambled(plain));
}

std::string Stage::Record() const {
    std::string text = Read(work / "File.ver");
    UnscrambleText(text.data());
    return text.c_str();
}

void Stage::ServerList(const std::string& plain) const {
    Write(work / "Server.cnv", Scrambled(plain));
}

void Stage::Config(unsigned port, const std::string& client) const {
    std::string c = client;
    ReplaceAll(c, "{game}", game);
    Write(work / "Config.ini",
          "[Update]\nIP=127.0.0.1\nPort=" + std::to_string(port) + "\nClient=" + c + "\n");
}

ServerProcess& Stage::ServeContent() {
    m_reference = std::make_unique<ServerProcess>(content.string());
    EXPECT_NE(m_reference->Port(), 0u) << "the reference server did not start";
    if (!fs::exists(work / "Config.ini"))
        Config(m_reference->Port());
    return *m_reference;
}

ScriptedServer& Stage::ServeScript(ScriptedServer::Script script) {
    m_scripted = std::make_unique<ScriptedServer>(std::move(script));
    if (!fs::exists(work / "Config.ini"))
        Config(m_scripted->Port());
    return *m_scripted;
}

void Stage::Cue() {
    {
        std::lock_guard lock(m_cueMutex);
        m_cued = true;
    }
    m_cueChanged.notify_all();
}

bool Stage::WaitCue(int timeoutMs) {
    std::unique_lock lock(m_cueMutex);
    return m_cueChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return m_cued; });
}

void Stage::ServeNothing() {
    unsigned port = 0;
    {
        ScriptedServer gone(std::vector<ScriptedServer::Script>{});
        port = gone.Port();
    }
    Config(port);
}

namespace {

// Runs the client, pressing the close box when the row says; what it wrote
// has Windows line ends made plain.
RunResult Run(Runner& runner, Stage& stage, const Scenario& s) {
    std::unique_ptr<ClientSession> session = runner.Start(stage, s);
    EXPECT_TRUE(session->Started());
    if (s.cueWhen) {
        EXPECT_TRUE(session->WaitUntil([&] { return s.cueWhen(stage, session->Out()); }, 30000))
            << "the cue never came; stdout:\n"
            << session->Out();
        stage.Cue();
    }
    if (s.closeWhen) {
        const bool came =
            session->WaitUntil([&] { return s.closeWhen(stage, session->Out()); }, 30000);
        EXPECT_TRUE(came) << "the moment to close never came; stdout:\n" << session->Out();
        std::this_thread::sleep_for(std::chrono::milliseconds(s.closeGraceMs));
        session->Signal(SIGINT);
    }
    RunResult r = session->Finish(60000);
    r.out = WithoutCarriageReturns(r.out);
    r.err = WithoutCarriageReturns(r.err);
    return r;
}

void CheckStreams(const RunResult& r, const Expect& want) {
    EXPECT_EQ(r.exitCode, want.exitCode) << r.err;
    EXPECT_EQ(r.err, want.err);
    std::size_t at = 0;
    for (const std::string& text : want.outHas) {
        const std::size_t found = r.out.find(text, at);
        EXPECT_NE(found, std::string::npos) << "missing (in this order): " << text << "\nstdout:\n"
                                            << r.out;
        if (found != std::string::npos)
            at = found + text.size();
    }
    for (const std::string& text : want.outLacks) {
        EXPECT_EQ(r.out.find(text), std::string::npos) << "shown: " << text;
    }
}

void CheckFiles(const Runner& runner, const Stage& stage, const Expect& want) {
    for (const auto& [path, data] : want.files) {
        EXPECT_EQ(stage.Read(stage.work / path), data) << path;
    }
    for (const std::string& path : want.absent) {
        EXPECT_FALSE(fs::exists(path[0] == '/' ? fs::path(path) : stage.work / path)) << path;
    }
    if (!want.record.empty()) {
        EXPECT_EQ(stage.Record(), want.record);
    }
    for (const auto& e : fs::directory_iterator(stage.root)) {
        EXPECT_TRUE(e.path() == stage.work || e.path() == stage.content || e.path() == stage.tmp)
            << "written beside the working directory: " << e.path();
    }
    // The Windows program's temporary directory is the Wine prefix's.
    if (!runner.Wine()) {
        EXPECT_TRUE(fs::is_empty(stage.tmp)) << "the plain copy of the server list is left behind";
    }
}

void CheckGame(const Runner& runner, const Stage& stage, const Expect& want) {
    const fs::path gameDir = stage.work / want.gameDir;
    std::vector<std::string> launched = Launched(gameDir, want.gameStarted ? 15000 : 300);
    if (!launched.empty())
        launched[0] = runner.LocalPath(launched[0]);
    std::vector<std::string> wantLaunched;
    if (want.gameStarted) {
        wantLaunched.push_back(fs::canonical(gameDir).string());
        for (const std::string& a : want.gameArgs)
            wantLaunched.push_back("<" + a + ">");
    }
    EXPECT_EQ(launched, wantLaunched);
}

} // namespace

void Play(Runner& runner, Scenario s) {
    if (runner.Wine() && s.onWine)
        s.onWine(s);
    Stage stage(runner.GameSource(), runner.GameName());
    if (s.offLoopback) {
        const std::string why = runner.OffLoopback(stage);
        if (!why.empty())
            GTEST_SKIP() << why;
    }
    s.arrange(stage, s.expect);
    if (::testing::Test::HasFatalFailure())
        return;
    const RunResult r = Run(runner, stage, s);
    ASSERT_FALSE(r.timedOut) << "stdout:\n" << r.out << "\nstderr:\n" << r.err;
    CheckStreams(r, s.expect);
    CheckFiles(runner, stage, s.expect);
    CheckGame(runner, stage, s.expect);
    if (s.expect.check)
        s.expect.check(stage, r);
}

} // namespace tvtest
