// Host backend: kernel objects behind HANDLE (files, threads, processes).
// Handles are pointers to these objects; a registry of live objects lets
// CloseHandle and the waits refuse a stale or foreign handle instead of
// touching freed memory.
#pragma once

#include "platform/wintypes.h"

#include <atomic>

namespace tvhost {

struct HostObject {
    std::atomic<int> refs{1};
    virtual ~HostObject() = default;
    // WAIT_OBJECT_0 once signalled, WAIT_TIMEOUT, or WAIT_FAILED (not waitable).
    virtual DWORD Wait(DWORD dwMilliseconds) {
        (void)dwMilliseconds;
        return WAIT_FAILED;
    }
};

// Registers obj and returns its handle.
HANDLE NewHandle(HostObject* obj);
// The object behind h with a reference taken (nullptr for an invalid handle);
// give it back with Unref.
HostObject* RefHandle(HANDLE h);
void Unref(HostObject* obj);

} // namespace tvhost
