// The end-to-end scenarios: one table of whole runs of the update client,
// played on both backends (the host program in its line mode, and the
// Windows program under Wine through torvane-robot, which shows the same
// lines), so both are held to one behaviour. A row arranges a working
// directory and a server, says what the player answers and does, and what
// must follow: the exit code, what the player was told, the lines shown, the
// files, the version record and the game started.
#pragma once

#include "child_process.h"
#include "scripted_server.h"

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace tvtest {

namespace fs = std::filesystem;

// One run's directories, side by side in a fresh directory that must hold
// nothing else afterwards: the working directory, the server's content and
// the client's temporary directory (host). The stand-in game is in
// work/game and in work.
class Stage {
  public:
    Stage(const fs::path& game, const std::string& gameName);
    ~Stage();
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    fs::path root, work, content, tmp;
    std::string game; // the stand-in game's file name
    // Off loopback: where the first server and the download server listen.
    std::string frontAddr = "127.0.0.3", backAddr = "127.0.0.4";

    void Write(const fs::path& path, const std::string& data) const;
    std::string Read(const fs::path& path) const;
    // File.ver holding this record text (scrambled on the way), and back.
    void Record(const std::string& plain) const;
    std::string Record() const;
    void ServerList(const std::string& plain) const;
    // Config.ini for a server on 127.0.0.1:port; "{game}" in client is the
    // stand-in game's file name.
    void Config(unsigned port, const std::string& client = "game\\{game}") const;

    // Serves content/ (manifest.txt and files the row wrote) with the
    // reference server, and points Config.ini at it.
    ServerProcess& ServeContent();
    // A scripted server for one connection, Config.ini pointing at it.
    ScriptedServer& ServeScript(ScriptedServer::Script script);
    // Config.ini pointing at a port where nothing listens.
    void ServeNothing();
    // The cue a server script may wait for: given when the row's cue
    // condition holds (false after timeoutMs without it).
    void Cue();
    bool WaitCue(int timeoutMs = 20000);
    // Keeps a server of the row's own (on another address) until the end.
    template <typename T> T& Hold(std::shared_ptr<T> server) {
        m_held.push_back(server);
        return *server;
    }

  private:
    std::mutex m_cueMutex;
    std::condition_variable m_cueChanged;
    bool m_cued = false;
    std::vector<std::shared_ptr<void>> m_held;
    std::unique_ptr<ServerProcess> m_reference;
    std::unique_ptr<ScriptedServer> m_scripted;
};

struct Expect {
    int exitCode = 0;
    std::string err;                 // stderr, exactly
    std::vector<std::string> outHas; // in stdout, in this order
    std::vector<std::string> outLacks;
    std::vector<std::pair<std::string, std::string>> files; // work-relative path -> content
    std::vector<std::string> absent;                        // work-relative or absolute paths
    std::string record; // plain File.ver afterwards ("": not checked)
    bool gameStarted = false;
    std::string gameDir = "game"; // where it was started, relative to work
    std::vector<std::string> gameArgs;
    // Row-specific checks after the run (the server's log, say).
    std::function<void(Stage&, const RunResult&)> check;
};

struct Scenario {
    std::string name;
    // Writes the working directory and the content, starts the server;
    // may fill in expectations that depend on the content.
    std::function<void(Stage&, Expect&)> arrange;
    std::string input; // stdin (the answer to the server list)
    std::vector<std::string> args;
    // Gives the stage's cue (to a server script) once this holds.
    std::function<bool(const Stage&, const std::string& out)> cueWhen;
    // Presses the close box (SIGINT) once this holds (checked while the run
    // goes on), closeGraceMs later.
    std::function<bool(const Stage&, const std::string& out)> closeWhen;
    int closeGraceMs = 0;
    bool offLoopback = false; // the client not on 127.0.0.1 (see Runner::OffLoopback)
    Expect expect;
    // Where the Windows program under Wine shows something else than the
    // host one, why (Wine's own difference, or what the robot cannot see),
    // and the row as it applies there.
    std::string wineDiffers;
    std::function<void(Scenario&)> onWine;
};

const std::vector<Scenario>& Scenarios();

inline void PrintTo(const Scenario& s, std::ostream* os) {
    *os << s.name;
}

// How a backend runs the client.
class Runner {
  public:
    virtual ~Runner() = default;
    virtual bool Wine() const = 0;
    // The stand-in game: the file to install and its name.
    virtual fs::path GameSource() const = 0;
    virtual std::string GameName() const = 0;
    // Starts the client in stage.work with the row's arguments and input.
    virtual std::unique_ptr<class ClientSession> Start(const Stage& stage, const Scenario& s) = 0;
    // For a row off loopback: names the stage's addresses, or says why the
    // row cannot be played here (then "" is not returned).
    virtual std::string OffLoopback(Stage& stage) = 0;
    // The game's working directory as it wrote it, as a path of this machine.
    virtual std::string LocalPath(const std::string& reported) const { return reported; }
};

// Arranges, runs and checks one row (gtest expectations).
void Play(Runner& runner, Scenario s);

} // namespace tvtest
