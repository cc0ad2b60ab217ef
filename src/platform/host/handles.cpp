// Host backend: the handle registry, CloseHandle and WaitForSingleObject.
#include "platform/host/handles.h"

#include <mutex>
#include <unordered_set>

namespace tvhost {

namespace {

std::mutex& Mu() {
    static auto* mu = new std::mutex;
    return *mu;
}

std::unordered_set<HostObject*>& Live() {
    static auto* live = new std::unordered_set<HostObject*>;
    return *live;
}

} // namespace

HANDLE NewHandle(HostObject* obj) {
    std::lock_guard lock(Mu());
    Live().insert(obj);
    return obj;
}

HostObject* RefHandle(HANDLE h) {
    auto* obj = static_cast<HostObject*>(h);
    std::lock_guard lock(Mu());
    if (!Live().count(obj))
        return nullptr;
    obj->refs.fetch_add(1);
    return obj;
}

void Unref(HostObject* obj) {
    if (obj->refs.fetch_sub(1) == 1)
        delete obj;
}

} // namespace tvhost

BOOL CloseHandle(HANDLE hObject) {
    auto* obj = static_cast<tvhost::HostObject*>(hObject);
    {
        std::lock_guard lock(tvhost::Mu());
        if (!tvhost::Live().erase(obj)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    tvhost::Unref(obj);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    tvhost::HostObject* obj = tvhost::RefHandle(hHandle);
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    DWORD r = obj->Wait(dwMilliseconds);
    tvhost::Unref(obj);
    return r;
}
