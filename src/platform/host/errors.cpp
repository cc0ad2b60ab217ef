// Host backend: error numbers and path mapping.
#include "platform/host/errors.h"
#include "platform/host/syscalls.h"

#include "platform/socket.h"

#include <cerrno>
#include <sys/stat.h>

namespace {

thread_local DWORD t_lastError = 0;
thread_local int t_wsaError = 0;

} // namespace

DWORD GetLastError() {
    return t_lastError;
}

void SetLastError(DWORD dwErrCode) {
    t_lastError = dwErrCode;
}

int WSAGetLastError() {
    return t_wsaError;
}

void WSASetLastError(int iError) {
    t_wsaError = iError;
}

namespace tvhost {

DWORD Win32ErrorFromErrno(int err, bool bParentMissing) {
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return bParentMissing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOEXEC:
        return ERROR_BAD_FORMAT;
    default:
        return ERROR_GEN_FAILURE;
    }
}

int WsaErrorFromErrno(int err) {
    switch (err) {
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    case ENETDOWN:
        return WSAENETDOWN;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case EAGAIN:
        return WSAEWOULDBLOCK;
    case EINPROGRESS:
        return WSAEWOULDBLOCK; // Winsock reports a pending connect this way
    case EALREADY:
        return WSAEALREADY;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case EBADF:
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EINTR:
        return WSAEINTR;
    case EACCES:
        return WSAEACCES;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    default:
        return WSAEINVAL;
    }
}

BOOL FailWithErrno(int err, bool bParentMissing) {
    SetLastError(Win32ErrorFromErrno(err, bParentMissing));
    return FALSE;
}

std::string HostPath(const char* path) {
    std::string p = path ? path : "";
    for (char& c : p)
        if (c == '\\')
            c = '/';
    return p;
}

bool ParentMissing(const std::string& hostPath) {
    std::string::size_type slash = hostPath.find_last_of('/');
    if (slash == std::string::npos)
        return false; // the current directory exists
    std::string dir = slash == 0 ? "/" : hostPath.substr(0, slash);
    struct stat st;
    return tvhost::syscalls.stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

} // namespace tvhost
