// Shared pieces of the reliability tests: the client as a child process
// (started with posix_spawn, so tests may start many at once from several
// threads), working directories, the version record and gzip bodies.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tvrel {

namespace fs = std::filesystem;

struct ClientRun {
    int exitCode = -1; // -1: ended by a signal or still running at the timeout
    int signal = 0;    // the signal that ended it, if any
    bool timedOut = false;
    bool closed = false; // the test sent the close signal
    std::string out, err;
};

struct ClientOptions {
    fs::path dir;                 // working directory
    std::string shellPrefix;      // run through /bin/sh -c "<prefix> exec client"
    std::string closeWhenOut;     // SIGTERM (the close box) once stdout holds this
    int closeAfterMs = -1;        // SIGTERM this long after the start
    std::string killWhenOut;      // SIGKILL once stdout holds this
    int timeoutMs = 20000;        // then SIGKILL and timedOut
    std::vector<std::string> env; // extra NAME=value entries
};

ClientRun RunClient(const ClientOptions& options);

// A fresh directory under the system's temporary directory, removed (with
// read-only leftovers) when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return m_path; }

  private:
    fs::path m_path;
};

void WriteFile(const fs::path& path, const std::string& data);
std::string ReadFile(const fs::path& path);
void WriteConfig(const fs::path& dir, unsigned port, const std::string& ip = "127.0.0.1");
// File.ver holding the record text plain (scrambled on the way).
void WriteRecord(const fs::path& dir, const std::string& plain);
// The pair File.ver records; false when it is absent or not valid.
bool ReadRecord(const fs::path& dir, std::uint32_t pair[2]);

std::string Gzip(const std::string& plain);
// Every regular file below dir (relative path -> content), skipping the
// client's own Config.ini.
std::vector<std::pair<std::string, std::string>> Files(const fs::path& dir);

// Each of the messages the exchange may show, as the line front end writes
// them to stderr.
extern const char kMsgConnectFailed[];
extern const char kMsgConnectionLost[];
extern const char kMsgVersionMismatch[];
extern const char kMsgDamaged[];
// The please-wait panel's text: on stdout once the install step has begun.
extern const char kWaitPanel[];

} // namespace tvrel
