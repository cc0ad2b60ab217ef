// Host backend: the C runtime's thread start, thread handles and the
// user-interface thread's wait for a worker.
#include "platform/thread.h"

#include "platform/host/event_loop.h"
#include "platform/host/handles.h"
#include "platform/host/syscalls.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

struct ThreadObject : tvhost::HostObject {
    std::mutex mu;
    std::condition_variable cv;
    bool finished = false;
    unsigned exitCode = 0;
    int exitFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); // readable once finished

    ~ThreadObject() override {
        if (exitFd >= 0)
            ::close(exitFd);
    }

    DWORD Wait(DWORD ms) override {
        std::unique_lock lock(mu);
        if (ms == INFINITE)
            cv.wait(lock, [&] { return finished; });
        else
            cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return finished; });
        return finished ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }

    void Finish(unsigned code) {
        {
            std::lock_guard lock(mu);
            finished = true;
            exitCode = code;
        }
        cv.notify_all();
        std::uint64_t one = 1;
        ssize_t w = ::write(exitFd, &one, sizeof one);
        (void)w;
    }
};

// NOTE: the decompressor ends the process with exit() from the install
// worker while the user-interface thread waits for it. Registered when the
// first worker starts, so it runs before the exit handlers registered earlier
// (the terminal front end's restore among them) and before the destructors of
// the statics built earlier.
void ParkUiThreadAtExit() {
    tvhost::ParkUiThreadForExit(2000);
}

struct ThreadStart {
    ThreadObject* thread;
    unsigned(__stdcall* fn)(void*);
    void* arg;
};

void* RunThread(void* p) {
    const ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    const unsigned code = start.fn(start.arg);
    start.thread->Finish(code);
    tvhost::Unref(start.thread);
    return nullptr;
}

} // namespace

std::uintptr_t _beginthreadex(void*, unsigned, unsigned(__stdcall* start_address)(void*),
                              void* arglist, unsigned initflag, unsigned* thrdaddr) {
    if (!start_address || initflag != 0)
        return 0;
    static std::once_flag s_atExit;
    std::call_once(s_atExit, [] { std::atexit(ParkUiThreadAtExit); });
    auto* t = new ThreadObject;
    t->refs.store(2); // the handle's and the running thread's
    auto* start = new ThreadStart{t, start_address, arglist}; // the thread's to delete
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t id;
    const int err = tvhost::syscalls.pthread_create(&id, &attr, RunThread, start);
    pthread_attr_destroy(&attr);
    if (err != 0) {
        delete t;
        delete start;
        errno = err;
        return 0;
    }
    static std::atomic<unsigned> s_nextId{1};
    if (thrdaddr)
        *thrdaddr = s_nextId.fetch_add(1);
    return reinterpret_cast<std::uintptr_t>(tvhost::NewHandle(t));
}

DWORD AfxWaitForWorker(HANDLE hThread) {
    tvhost::HostObject* obj = tvhost::RefHandle(hThread);
    auto* t = dynamic_cast<ThreadObject*>(obj);
    if (!t) {
        if (obj)
            tvhost::Unref(obj);
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (!tvhost::IsUiThread()) {
        t->Wait(INFINITE);
    } else {
        for (;;) {
            {
                std::lock_guard lock(t->mu);
                if (t->finished)
                    break;
            }
            tvhost::WaitRestricted(t->exitFd, POLLIN, 0);
        }
    }
    tvhost::Unref(t);
    return WAIT_OBJECT_0;
}
