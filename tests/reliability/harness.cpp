// Shared pieces of the reliability tests (test code: POSIX is fine).
#include "harness.h"

#include "gzip_encoder.h"
#include "install/version_record.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tvrel {

const char kMsgConnectFailed[] = "서버 접속에 실패했습니다.\n잠시 후 재 실행 하세요.";
const char kMsgConnectionLost[] = "서버와의 연결이 해제 되었습니다.\n재 실행 하세요.";
const char kMsgVersionMismatch[] = "버전이 일치하지 안습니다.\n최신 버전으로 재 설치하세요.";
const char kMsgDamaged[] = "손상된 파일이 있습니다.\n재 설치 후 다시 시작하세요.";
const char kWaitPanel[] = "파일을 갱신중 입니다.";

namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool Drain(int fd, std::string& out) {
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0)
        out.append(buf, static_cast<std::size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

pid_t Spawn(const ClientOptions& o, int outFd, int errFd) {
    std::vector<std::string> args;
    if (o.shellPrefix.empty())
        args = {TV_CLIENT_EXE};
    else
        args = {"/bin/sh", "-c", o.shellPrefix + " exec \"$0\"", TV_CLIENT_EXE};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        envStrings.emplace_back(*e);
    envStrings.insert(envStrings.end(), o.env.begin(), o.env.end());
    std::vector<char*> envp;
    for (std::string& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, outFd, 1);
    posix_spawn_file_actions_adddup2(&fa, errFd, 2);
    posix_spawn_file_actions_addchdir_np(&fa, o.dir.c_str());
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

} // namespace

ClientRun RunClient(const ClientOptions& o) {
    ClientRun r;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return r;
    const pid_t pid = Spawn(o, out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        r.err = "cannot start the client";
        return r;
    }
    const std::int64_t start = NowMs();
    bool outOpen = true, errOpen = true, killed = false;
    while (outOpen || errOpen) {
        const std::int64_t now = NowMs();
        if (now - start >= o.timeoutMs) {
            r.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (!r.closed &&
            ((o.closeAfterMs >= 0 && now - start >= o.closeAfterMs) ||
             (!o.closeWhenOut.empty() && r.out.find(o.closeWhenOut) != std::string::npos))) {
            r.closed = true;
            ::kill(pid, SIGTERM);
        }
        if (!killed && !o.killWhenOut.empty() && r.out.find(o.killWhenOut) != std::string::npos) {
            killed = true;
            ::kill(pid, SIGKILL);
        }
        pollfd p[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (::poll(p, 2, 10) <= 0)
            continue;
        if (p[0].revents)
            outOpen = Drain(out[0], r.out);
        if (p[1].revents)
            errOpen = Drain(err[0], r.err);
    }
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && !r.timedOut)
        r.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        r.signal = WTERMSIG(status);
    return r;
}

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tv_reliability_XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr)
        std::abort();
    m_path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto& e : fs::recursive_directory_iterator(m_path, ec))
        if (!e.is_symlink())
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

void WriteFile(const fs::path& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteConfig(const fs::path& dir, unsigned port, const std::string& ip) {
    WriteFile(dir / "Config.ini", "[Update]\nIP=" + ip + "\nPort=" + std::to_string(port) + "\n");
}

void WriteRecord(const fs::path& dir, const std::string& plain) {
    std::string text = plain;
    ScrambleText(text.data());
    WriteFile(dir / "File.ver", text);
}

bool ReadRecord(const fs::path& dir, std::uint32_t pair[2]) {
    DWORD v[2] = {0, 0};
    if (ReadVersionRecordFile((dir / "File.ver").c_str(), v) != VersionRecordStatus::Valid)
        return false;
    pair[0] = v[0];
    pair[1] = v[1];
    return true;
}

std::string Gzip(const std::string& plain) {
    const std::vector<unsigned char> gz =
        tvserver::GzipEncode(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), 0);
    return std::string(gz.begin(), gz.end());
}

std::vector<std::pair<std::string, std::string>> Files(const fs::path& dir) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && e.path().filename() != "Config.ini")
            files.emplace_back(e.path().lexically_relative(dir).string(), ReadFile(e.path()));
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace tvrel
