// Host backend: CreateProcessA and the current directory.
#include "platform/wintypes.h"

#include "platform/host/cmdline.h"
#include "platform/host/errors.h"
#include "platform/host/handles.h"
#include "platform/host/syscalls.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct ProcessObject : tvhost::HostObject {
    pid_t pid = -1;
    bool reaped = false;

    bool TryReap(int flags) {
        if (reaped)
            return true;
        int status;
        pid_t r = tvhost::syscalls.waitpid(pid, &status, flags);
        if (r == pid || (r < 0 && errno == ECHILD))
            reaped = true;
        return reaped;
    }

    DWORD Wait(DWORD ms) override {
        if (TryReap(WNOHANG))
            return WAIT_OBJECT_0;
        if (ms == INFINITE)
            return TryReap(0) ? WAIT_OBJECT_0 : WAIT_FAILED;
        // NOTE: a pidfd turns the child's end into a pollable event (Linux 5.3);
        // without one the wait falls back to short naps.
        int pfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (pfd >= 0) {
            pollfd p{pfd, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(std::min<DWORD>(ms, INT_MAX)));
            ::close(pfd);
        } else {
            for (DWORD waited = 0; waited < ms && !TryReap(WNOHANG); waited += 10)
                ::usleep(10000);
        }
        return TryReap(WNOHANG) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }

    ~ProcessObject() override { TryReap(WNOHANG); }
};

bool IsExecutableFile(const std::string& p) {
    struct stat st;
    return tvhost::syscalls.stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           tvhost::syscalls.access(p.c_str(), X_OK) == 0;
}

// The current directory first, then PATH, as the Windows loader searches a
// program named without a directory. A name with a directory is taken as is.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    if (IsExecutableFile("./" + name))
        return "./" + name;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type colon = dirs.find(':', start);
        std::string dir = dirs.substr(start, colon == std::string::npos ? colon : colon - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (IsExecutableFile(candidate))
            return candidate;
        if (colon == std::string::npos)
            return {};
        start = colon + 1;
    }
}

// A Windows environment block ("A=1\0B=2\0\0") as a vector of pointers into it.
std::vector<char*> EnvironmentFromBlock(char* block) {
    std::vector<char*> env;
    for (char* p = block; *p; p += std::strlen(p) + 1)
        env.push_back(p);
    env.push_back(nullptr);
    return env;
}

} // namespace

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID lpEnvironment,
                    LPCSTR lpCurrentDirectory, LPSTARTUPINFOA,
                    LPPROCESS_INFORMATION lpProcessInformation) {
    std::vector<std::string> args = tvhost::SplitCommandLine(lpCommandLine ? lpCommandLine : "");
    std::string program = tvhost::HostPath(lpApplicationName ? lpApplicationName : args[0].c_str());
    if (program.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::string found = FindProgram(program);
    if (found.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> env;
    if (lpEnvironment)
        env = EnvironmentFromBlock(static_cast<char*>(lpEnvironment));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string cwd = tvhost::HostPath(lpCurrentDirectory);
    if (lpCurrentDirectory)
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid;
    // NOTE: every descriptor the host opens is close-on-exec, so the child gets
    // only the standard streams, as a Windows child without inherited handles.
    int rc = tvhost::syscalls.posix_spawn(&pid, found.c_str(), &actions, nullptr, argv.data(),
                                          lpEnvironment ? env.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return tvhost::FailWithErrno(rc);
    auto* proc = new ProcessObject;
    proc->pid = pid;
    HANDLE hProcess = tvhost::NewHandle(proc);
    HANDLE hThread = tvhost::NewHandle(new tvhost::HostObject);
    if (lpProcessInformation) {
        *lpProcessInformation = {hProcess, hThread, static_cast<DWORD>(pid),
                                 static_cast<DWORD>(pid)};
    } else {
        CloseHandle(hProcess);
        CloseHandle(hThread);
    }
    return TRUE;
}

BOOL SetCurrentDirectoryA(LPCSTR lpPathName) {
    std::string p = tvhost::HostPath(lpPathName);
    if (p.empty() || tvhost::syscalls.chdir(p.c_str()) != 0)
        return tvhost::FailWithErrno(p.empty() ? ENOENT : errno, true);
    return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    char buf[PATH_MAX];
    if (!tvhost::syscalls.getcwd(buf, sizeof buf)) {
        tvhost::FailWithErrno(errno);
        return 0;
    }
    DWORD len = static_cast<DWORD>(std::strlen(buf));
    if (!lpBuffer || nBufferLength <= len)
        return len + 1;
    std::memcpy(lpBuffer, buf, len + 1);
    return len;
}
