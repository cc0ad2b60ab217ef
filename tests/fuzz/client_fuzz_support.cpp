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

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool g_guardArmed = false;
std::string g_jail;

// Lexically resolved absolute form of path (relative to the current
// directory); no link is followed, EndRun makes sure there are none.
std::string Absolute(const char* path) {
    fs::path p(path);
    if (p.is_relative()) {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) == nullptr)
            __builtin_trap();
        p = fs::path(cwd) / p;
    }
    return p.lexically_normal().string();
}

void CheckPath(const char* path) {
    if (!g_guardArmed || path == nullptr)
        return;
    const std::string abs = Absolute(path);
    if (abs.compare(0, g_jail.size() + 1, g_jail + "/") != 0) {
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
std::string g_home; // libFuzzer's own directory: its corpus paths may be relative

void SetUpOnce() {
    static bool done = false;
    if (done)
        return;
    done = true;
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        std::abort();
    g_home = cwd;
    // Memory-backed where there is one: every run creates and deletes files.
    std::string base = fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/tv-client-fuzz-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr)
        std::abort();
    g_jail = tmpl;
    g_scratch = g_jail + "/work";
    g_temp = g_jail + "/tmp";
    fs::create_directories(g_scratch);
    fs::create_directories(g_temp);
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(g_jail, ec);
    });
    ::setenv("TMPDIR", g_temp.c_str(), 1);

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

void Empty(const std::string& dir) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir)) {
        fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(e.path(), ec);
    }
}

void CheckNoLinks(const std::string& dir) {
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_symlink()) {
            std::fprintf(stderr, "a link appeared: %s\n", e.path().c_str());
            __builtin_trap();
        }
}

} // namespace

SilentFrontEnd& BeginRun() {
    SetUpOnce();
    Empty(g_scratch);
    Empty(g_temp);
    if (::chdir(g_scratch.c_str()) != 0)
        std::abort();
    g_frontEnd->boxes.clear();
    g_frontEnd->onModalStart = nullptr;
    g_guardArmed = true;
    return *g_frontEnd;
}

void EndRun() {
    g_guardArmed = false;
    for (const auto& e : fs::directory_iterator(g_jail))
        if (e.path() != g_scratch && e.path() != g_temp) {
            std::fprintf(stderr, "a file appeared beside the working directory: %s\n",
                         e.path().c_str());
            __builtin_trap();
        }
    CheckNoLinks(g_scratch);
    CheckNoLinks(g_temp);
    if (::chdir(g_home.c_str()) != 0)
        std::abort();
}

const std::string& ScratchDir() {
    return g_scratch;
}

const std::string& TempDir() {
    return g_temp;
}

bool ReadFile(const std::string& relativePath, std::string& out) {
    std::ifstream in(g_scratch + "/" + relativePath, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

void WriteFile(const std::string& relativePath, const std::string& data) {
    std::ofstream(g_scratch + "/" + relativePath, std::ios::binary) << data;
}

} // namespace clientfuzz
