// Harness plumbing of the client fuzz targets (see client_fuzz_support.h).
//
// NOTE: the path guard replaces fopen, mkdir, unlink and rename of the C
// library for this executable (dlsym RTLD_NEXT finds the real ones) and wraps
// the open of the platform's syscall table. It is armed only during a run, so
// libFuzzer's own corpus files are not checked.

#include "client_fuzz_support.h"

#include "platform/app.h"
#include "platform/host/event_loop.h"
#include "platform/host/syscalls.h"
#include "platform/host/window.h"
#include "ui/resource.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool g_guardArmed = false;
std::string g_jail;

// Longer than any path the system takes (PATH_MAX) with the scratch
// directory in front of it.
constexpr size_t kPathBuffer = 16384;

// Lexically resolved absolute form of path (relative to the current
// directory) into out; false when it does not fit. No link is followed,
// EndRun makes sure there are none. Plain character work without
// allocating: it runs for every file the client opens for writing.
bool Absolute(const char* path, char (&out)[kPathBuffer]) {
    char joined[kPathBuffer];
    size_t n = 0;
    if (path[0] != '/') {
        if (::getcwd(joined, sizeof joined) == nullptr)
            __builtin_trap();
        n = std::strlen(joined);
        joined[n++] = '/';
    }
    const size_t length = std::strlen(path);
    if (n + length >= sizeof joined)
        return false;
    std::memcpy(joined + n, path, length + 1);
    n += length;
    size_t o = 0;
    for (size_t i = 0; i < n;) {
        const void* slash = std::memchr(joined + i, '/', n - i);
        const size_t j = slash != nullptr ? static_cast<const char*>(slash) - joined : n;
        const size_t k = j - i;
        if (k == 2 && joined[i] == '.' && joined[i + 1] == '.') {
            while (o > 0 && out[o - 1] != '/')
                --o;
            if (o > 0)
                --o;
        } else if (k != 0 && !(k == 1 && joined[i] == '.')) {
            if (o + 1 + k >= sizeof out)
                return false;
            out[o++] = '/';
            std::memcpy(out + o, joined + i, k);
            o += k;
        }
        i = j + 1;
    }
    if (o == 0)
        out[o++] = '/';
    out[o] = '\0';
    return true;
}

bool StartsWith(const char* s, const std::string& prefix) {
    return std::strncmp(s, prefix.c_str(), prefix.size()) == 0;
}

// Where libFuzzer writes a finding's input (-artifact_prefix,
// -exact_artifact_path), absolute. It does so in the middle of the run that
// failed, guard armed: without these the finding would trap here and be lost.
std::vector<std::string> g_artifactPaths;

void NoteArtifactPaths() {
    const int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    std::string args;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        args.append(buf, static_cast<size_t>(n));
    ::close(fd);
    for (size_t i = 0; i < args.size(); i = args.find('\0', i) + 1) {
        const char* arg = args.c_str() + i;
        for (const char* flag : {"-artifact_prefix=", "-exact_artifact_path="}) {
            char abs[kPathBuffer];
            if (std::strncmp(arg, flag, std::strlen(flag)) == 0 && arg[std::strlen(flag)] != '\0' &&
                Absolute(arg + std::strlen(flag), abs))
                g_artifactPaths.emplace_back(abs);
        }
    }
}

bool IsArtifactPath(const char* abs) {
    for (const std::string& prefix : g_artifactPaths)
        if (StartsWith(abs, prefix))
            return true;
    return false;
}

void CheckPath(const char* path) {
    if (!g_guardArmed || path == nullptr)
        return;
    char abs[kPathBuffer];
    // A path too long to resolve here is longer than the system takes: its
    // call fails without touching anything.
    if (!Absolute(path, abs))
        return;
    const bool inJail = StartsWith(abs, g_jail) && abs[g_jail.size()] == '/';
    if (!inJail && !IsArtifactPath(abs)) {
        std::fprintf(stderr, "client touched a path outside its directory: %s\n", path);
        __builtin_trap();
    }
}

template <class Fn> Fn Real(const char* name) {
    void* p = ::dlsym(RTLD_NEXT, name);
    if (p == nullptr)
        __builtin_trap();
    return reinterpret_cast<Fn>(p);
}

int (*g_realSysOpen)(const char*, int, mode_t) = nullptr;

int GuardedOpen(const char* path, int flags, mode_t mode) {
    if (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC))
        CheckPath(path);
    return g_realSysOpen(path, flags, mode);
}

} // namespace

extern "C" {

FILE* fopen(const char* path, const char* mode) {
    static auto real = Real<FILE* (*)(const char*, const char*)>("fopen");
    if (mode != nullptr && mode[0] != 'r')
        CheckPath(path);
    return real(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    static auto real = Real<FILE* (*)(const char*, const char*)>("fopen64");
    if (mode != nullptr && mode[0] != 'r')
        CheckPath(path);
    return real(path, mode);
}

int mkdir(const char* path, mode_t mode) {
    static auto real = Real<int (*)(const char*, mode_t)>("mkdir");
    CheckPath(path);
    return real(path, mode);
}

int unlink(const char* path) {
    static auto real = Real<int (*)(const char*)>("unlink");
    CheckPath(path);
    return real(path);
}

int rename(const char* from, const char* to) {
    static auto real = Real<int (*)(const char*, const char*)>("rename");
    CheckPath(from);
    CheckPath(to);
    return real(from, to);
}

} // extern "C"

namespace clientfuzz {

int SilentFrontEnd::OnMessageBox(HWND, const tvhost::MessageBoxEvent& box) {
    boxes.push_back(box.text);
    return IDOK;
}

void SilentFrontEnd::OnModalStart(HWND hDlg) {
    if (onModalStart)
        onModalStart(tvhost::DialogTemplateId(hDlg), hDlg);
}

namespace {

SilentFrontEnd* g_frontEnd = nullptr;
std::string g_scratch, g_temp;
// The jail, scratch, temporary and libFuzzer's own directory, kept open:
// every run walks the first three and changes into the scratch one and back.
int g_jailFd = -1, g_scratchFd = -1, g_tempFd = -1, g_homeFd = -1;
std::string g_home; // libFuzzer's own directory: its corpus paths may be relative

// The scratch directories are walked twice per run. opendir's 32 KiB buffer,
// allocated and freed every time, made that a quarter of each run under
// AddressSanitizer; the entries are read into the stack instead.
struct DirEntry64 {
    std::uint64_t ino;
    std::int64_t off;
    unsigned short reclen;
    unsigned char type;
    char name[1];
};

unsigned char EntryType(int dirFd, const DirEntry64* e) {
    if (e->type != DT_UNKNOWN)
        return e->type;
    struct stat st;
    if (::fstatat(dirFd, e->name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return DT_UNKNOWN;
    return S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
}

template <class Fn> void ForEachEntry(int dirFd, Fn fn) {
    alignas(8) char buf[4096];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, dirFd, buf, sizeof buf);
        if (n <= 0)
            return;
        for (long off = 0; off < n;) {
            const auto* e = reinterpret_cast<const DirEntry64*>(buf + off);
            off += e->reclen;
            if (std::strcmp(e->name, ".") != 0 && std::strcmp(e->name, "..") != 0)
                fn(e->name, EntryType(dirFd, e));
        }
    }
}

int OpenDir(int atFd, const char* name) {
    return ::openat(atFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Removes the entries of a directory (made writable first: a run may leave a
// read-only directory behind). With checkLinks, a symbolic link among them
// traps first: the end of a run checks and clears in the one walk, so each
// run walks its directories once.
void ClearAt(int dirFd, const std::string& path, bool checkLinks) {
    ForEachEntry(dirFd, [&](const char* name, unsigned char type) {
        if (checkLinks && type == DT_LNK) {
            std::fprintf(stderr, "a link appeared: %s/%s\n", path.c_str(), name);
            __builtin_trap();
        }
        if (type != DT_DIR) {
            ::unlinkat(dirFd, name, 0);
            return;
        }
        ::fchmodat(dirFd, name, 0700, 0);
        const int sub = OpenDir(dirFd, name);
        if (sub >= 0) {
            ClearAt(sub, checkLinks ? path + "/" + name : path, checkLinks);
            ::close(sub);
        }
        ::unlinkat(dirFd, name, AT_REMOVEDIR);
    });
}

// A kept directory descriptor, read again from its first entry.
int Rewound(int dirFd) {
    if (::lseek(dirFd, 0, SEEK_SET) != 0)
        std::abort();
    return dirFd;
}

void Clear(int dirFd, const std::string& dir, bool checkLinks) {
    ClearAt(Rewound(dirFd), dir, checkLinks);
}

// Removes a directory and everything in it, read-only directories too.
void RemoveTree(const std::string& dir) {
    const int fd = OpenDir(AT_FDCWD, dir.c_str());
    if (fd < 0)
        return;
    ClearAt(fd, dir, false);
    ::close(fd);
    ::rmdir(dir.c_str());
}

// Each process's directories live in one named for it. A run that breaks an
// invariant ends the process at once (a trap: no exit handlers run), leaving
// its directory behind; the next process removes those of processes gone.
const char kJailPrefix[] = "tv-client-fuzz-";

void RemoveAbandonedJails(const std::string& base) {
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(base, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(kJailPrefix, 0) != 0)
            continue;
        const char* digits = name.c_str() + sizeof kJailPrefix - 1;
        char* end = nullptr;
        const long pid = std::strtol(digits, &end, 10);
        if (end == digits || *end != '-' || pid <= 0)
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            RemoveTree(e.path().string());
    }
}

void SetUpOnce() {
    static bool done = false;
    if (done)
        return;
    done = true;
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        std::abort();
    g_home = cwd;
    NoteArtifactPaths();
    // Memory-backed where there is one: every run creates and deletes files.
    std::string base = fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    RemoveAbandonedJails(base);
    std::string tmpl = base + "/" + kJailPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr)
        std::abort();
    g_jail = tmpl;
    g_scratch = g_jail + "/work";
    g_temp = g_jail + "/tmp";
    fs::create_directories(g_scratch);
    fs::create_directories(g_temp);
    std::atexit([] { RemoveTree(g_jail); });
    ::setenv("TMPDIR", g_temp.c_str(), 1);
    for (auto [fd, dir] : {std::pair{&g_jailFd, &g_jail}, std::pair{&g_scratchFd, &g_scratch},
                           std::pair{&g_tempFd, &g_temp}, std::pair{&g_homeFd, &g_home}}) {
        *fd = ::open(dir->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (*fd < 0)
            std::abort();
    }

    tvhost::BindUiThread();
    tvhost::SetAppName("torvane-update");
    static CWinApp app;
    RegisterUpdateResources();
    auto fe = std::make_unique<SilentFrontEnd>();
    g_frontEnd = fe.get();
    tvhost::SetFrontEnd(std::move(fe));
    g_realSysOpen = tvhost::syscalls.open;
    tvhost::syscalls.open = GuardedOpen;
}

// The scratch directories were left empty by the last EndRun; a run that
// ended otherwise (an early return) leaves them to be cleared by the next.
bool g_cleared = true;

} // namespace

SilentFrontEnd& BeginRun() {
    SetUpOnce();
    if (!g_cleared) {
        Clear(g_scratchFd, g_scratch, false);
        Clear(g_tempFd, g_temp, false);
    }
    g_cleared = false;
    if (::fchdir(g_scratchFd) != 0)
        std::abort();
    g_frontEnd->boxes.clear();
    g_frontEnd->onModalStart = nullptr;
    g_guardArmed = true;
    return *g_frontEnd;
}

void EndRun() {
    g_guardArmed = false;
    ForEachEntry(Rewound(g_jailFd), [](const char* name, unsigned char) {
        if (std::strcmp(name, "work") != 0 && std::strcmp(name, "tmp") != 0) {
            std::fprintf(stderr, "a file appeared beside the working directory: %s/%s\n",
                         g_jail.c_str(), name);
            __builtin_trap();
        }
    });
    Clear(g_scratchFd, g_scratch, true);
    Clear(g_tempFd, g_temp, true);
    g_cleared = true;
    if (::fchdir(g_homeFd) != 0)
        std::abort();
}

const std::string& ScratchDir() {
    return g_scratch;
}

const std::string& TempDir() {
    return g_temp;
}

bool ReadFile(const char* relativePath, std::string& out) {
    const int fd = ::openat(g_scratchFd, relativePath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    out.clear();
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return n == 0;
}

FileMatch CompareFile(const char* relativePath, const void* data, size_t size) {
    const int fd = ::openat(g_scratchFd, relativePath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return FileMatch::Missing;
    const auto* expect = static_cast<const char*>(data);
    size_t done = 0;
    bool same = true;
    char buf[4096];
    ssize_t n;
    while (same && (n = ::read(fd, buf, sizeof buf)) > 0) {
        const auto k = static_cast<size_t>(n);
        same = k <= size - done && std::memcmp(buf, expect + done, k) == 0;
        done += k;
    }
    ::close(fd);
    return same && done == size ? FileMatch::Same : FileMatch::Differs;
}

void WriteFile(const char* relativePath, const void* data, size_t size) {
    const int fd =
        ::openat(g_scratchFd, relativePath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        std::abort();
    const auto* p = static_cast<const char*>(data);
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, p + done, size - done);
        if (n <= 0)
            std::abort();
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

bool TempDirEmpty() {
    bool empty = true;
    ForEachEntry(Rewound(g_tempFd), [&](const char*, unsigned char) { empty = false; });
    return empty;
}

} // namespace clientfuzz
