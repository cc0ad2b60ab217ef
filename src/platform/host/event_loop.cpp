// Host backend: the user-interface event loop.
//
// Divisions:
//   1. Loop state (one instance, never destroyed: workers and atexit use it)
//   2. Cross-thread queues: posted messages, marshalled calls, input
//   3. Painting
//   4. One iteration of a modal run / of a restricted wait
//   5. User input at the topmost modal window
#include "platform/host/event_loop.h"

#include "platform/host/syscalls.h"
#include "platform/host/window.h"
#include "platform/wnd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tvhost {

namespace {

// ---- 1. Loop state ---------------------------------------------------------

constexpr std::int64_t kFrameMs = 33; // at most ~30 frames per second

struct Posted {
    HWND hWnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct Call {
    const std::function<void()>* fn;
    bool done;
};

struct InputEvent {
    bool isSelection;
    Key key;
    int index;
};

struct Timer {
    HWND hWnd;
    UINT_PTR id;
    std::int64_t intervalMs;
    std::int64_t dueMs; // steady-clock milliseconds
};

struct Loop {
    std::mutex mu; // guards the three queues and Call::done
    std::condition_variable callDone;
    std::deque<Posted> posted;
    std::deque<Call*> calls;
    std::deque<InputEvent> input;
    std::atomic<bool> queued{false}; // any queue may be non-empty
    int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    std::atomic<bool> bound{false};
    std::thread::id uiThread;

    // User-interface thread only:
    std::vector<SocketEntry*> sockets;
    std::vector<pollfd> pfds; // reused every poll: no allocation per event
    std::vector<SocketEntry*> pfdOwner;
    int holdDepth = 0; // restricted waits in progress
    std::vector<HWND> modalStack;
    std::vector<Timer> timers;
    bool dirty = false;
    std::int64_t lastPaint = 0;
    unsigned rotate = 0;    // fairness between ready sources
    unsigned iteration = 0; // counts busy-socket polls
};

Loop& L() {
    static Loop* loop = new Loop;
    return *loop;
}

void Wake() {
    std::uint64_t one = 1;
    ssize_t r = ::write(L().wakeFd, &one, sizeof one);
    (void)r; // a full counter still leaves the descriptor readable
}

void DrainWake() {
    std::uint64_t n;
    ssize_t r = ::read(L().wakeFd, &n, sizeof n);
    (void)r;
}

// ---- 2. Cross-thread queues ------------------------------------------------

void ServeCalls() {
    Loop& l = L();
    if (!l.queued.load(std::memory_order_acquire))
        return;
    std::unique_lock lock(l.mu);
    while (!l.calls.empty()) {
        Call* c = l.calls.front();
        l.calls.pop_front();
        lock.unlock();
        (*c->fn)();
        lock.lock();
        c->done = true;
        l.callDone.notify_all();
    }
    l.queued.store(!l.posted.empty() || !l.input.empty(), std::memory_order_release);
}

template <typename T> bool PopFrom(std::deque<T>& q, T& out) {
    Loop& l = L();
    if (!l.queued.load(std::memory_order_acquire))
        return false;
    std::lock_guard lock(l.mu);
    if (q.empty())
        return false;
    out = q.front();
    q.pop_front();
    l.queued.store(!l.posted.empty() || !l.input.empty() || !l.calls.empty(),
                   std::memory_order_release);
    return true;
}

void DispatchPosted(const Posted& p) {
    if (!IsLiveWindow(p.hWnd))
        return;
    if (p.message == kEndDialogMessage) {
        Window* w = Win(p.hWnd);
        w->endRequested = true;
        w->result = static_cast<INT_PTR>(p.wParam);
        return;
    }
    ::SendMessage(p.hWnd, p.message, p.wParam, p.lParam);
}

void PushInput(const InputEvent& ev) {
    Loop& l = L();
    {
        std::lock_guard lock(l.mu);
        l.input.push_back(ev);
        l.queued.store(true, std::memory_order_release);
    }
    Wake();
}

// ---- 3. Painting -----------------------------------------------------------

void DoPaint(bool force) {
    Loop& l = L();
    // The dialogs' WM_PAINT handlers run first, as a frame on Windows would.
    for (HWND h : TopLevelWindows())
        if (Win(h)->visible && Win(h)->type == WindowType::Dialog)
            ::SendMessage(h, WM_PAINT, 0, 0);
    l.dirty = !GetFrontEnd().Paint(force);
    l.lastPaint = NowMs();
}

void MaybePaint() {
    Loop& l = L();
    if (l.dirty && NowMs() - l.lastPaint >= kFrameMs)
        DoPaint(false);
}

int PaintTimeout() {
    Loop& l = L();
    if (!l.dirty)
        return -1;
    return static_cast<int>(std::max<std::int64_t>(0, l.lastPaint + kFrameMs - NowMs()));
}

// ---- 4. Iterations ---------------------------------------------------------

// One due timer as one event, like any other readiness. A timer that fell
// behind is not caught up: its next turn counts from now, as on Windows,
// where WM_TIMER is coalesced.
bool FireDueTimer() {
    Loop& l = L();
    if (l.timers.empty())
        return false;
    const std::int64_t now = NowMs();
    for (Timer& t : l.timers) {
        if (t.dueMs > now)
            continue;
        t.dueMs = now + t.intervalMs;
        const HWND h = t.hWnd;
        const UINT_PTR id = t.id;
        ::SendMessage(h, WM_TIMER, id, 0);
        return true;
    }
    return false;
}

// How long an idle poll may sleep: until the next frame or timer, -1 for
// ever.
int IdleTimeout(bool full) {
    Loop& l = L();
    int timeout = PaintTimeout();
    if (!full)
        return timeout;
    const std::int64_t now = NowMs();
    for (const Timer& t : l.timers) {
        const int wait = static_cast<int>(std::clamp<std::int64_t>(t.dueMs - now, 0, INT32_MAX));
        timeout = timeout < 0 ? wait : std::min(timeout, wait);
    }
    return timeout;
}

// SIGINT and SIGTERM act as the close box of the topmost modal window. The
// handler only sets a flag and wakes the loop (writing to an eventfd is
// async-signal-safe); a full modal run takes the request. A second signal
// while the first is still unhandled (the loop is held in a long wait) ends
// the program the ordinary way.
volatile sig_atomic_t g_signalPending = 0;
bool g_signalsOn = false;

void OnCloseSignal(int sig) {
    if (g_signalPending) {
        ::signal(sig, SIG_DFL);
        ::raise(sig);
        return;
    }
    g_signalPending = 1;
    int saved = errno;
    Wake();
    errno = saved;
}

void DispatchOneReady() {
    Loop& l = L();
    std::size_t n = l.pfds.size() - 1; // the last entry is the wake descriptor
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t i = (l.rotate + k) % n;
        if (l.pfds[i].revents == 0)
            continue;
        ++l.rotate;
        if (l.pfdOwner[i])
            l.pfdOwner[i]->Dispatch(l.pfds[i].revents);
        else
            GetFrontEnd().OnInput();
        return; // one event per poll: the handler may have changed everything
    }
}

// NOTE: the sockets come first in the poll set. poll() registers a wait on
// every descriptor it checks until it finds one ready; with a busy socket in
// front, the idle input and wake descriptors cost no wait-queue round trip.
// With bSocketsOnly the set holds the sockets alone: while data streams in,
// most iterations look at nothing else (a terminal's poll is not free), and
// every kSlowPathEvery-th iteration, or any that finds no socket ready, looks
// at everything.
constexpr unsigned kSlowPathEvery = 16;

bool BuildPollSet(bool full, bool bSocketsOnly) {
    Loop& l = L();
    l.pfds.clear();
    l.pfdOwner.clear();
    if (full)
        for (SocketEntry* s : l.sockets) {
            short ev = s->Interest();
            if (ev != 0) {
                l.pfds.push_back({s->fd, ev, 0});
                l.pfdOwner.push_back(s);
            }
        }
    if (bSocketsOnly)
        return !l.pfds.empty();
    int inputFd = GetFrontEnd().InputFd();
    if (inputFd >= 0) {
        l.pfds.push_back({inputFd, POLLIN, 0});
        l.pfdOwner.push_back(nullptr);
    }
    l.pfds.push_back({l.wakeFd, POLLIN, 0});
    l.pfdOwner.push_back(nullptr);
    return true;
}

// A busy socket's next event, looking at the sockets alone (see above).
bool DispatchBusySocket(bool full) {
    Loop& l = L();
    if (!full || ++l.iteration % kSlowPathEvery == 0 || !BuildPollSet(true, true))
        return false;
    if (tvhost::syscalls.poll(l.pfds.data(), l.pfds.size(), 0) <= 0)
        return false;
    l.pfds.push_back({-1, 0, 0}); // DispatchOneReady skips the last entry
    l.pfdOwner.push_back(nullptr);
    DispatchOneReady();
    return true;
}

bool TakeQueuedWork(bool full) {
    Loop& l = L();
    if (g_signalPending && g_signalsOn) {
        g_signalPending = 0;
        HandleKey(Key::Close);
        return true;
    }
    InputEvent ev;
    if (PopFrom(l.input, ev)) {
        if (ev.isSelection)
            HandleListSelection(ev.index);
        else
            HandleKey(ev.key);
        return true;
    }
    Posted p;
    if (full && PopFrom(l.posted, p)) {
        DispatchPosted(p);
        return true;
    }
    return false;
}

void ModalIteration() {
    Loop& l = L();
    ServeCalls();
    bool full = l.holdDepth == 0;
    if (TakeQueuedWork(full))
        return;
    MaybePaint();
    // NOTE: timers wait while a busy socket keeps the loop on its fast path;
    // every kSlowPathEvery-th iteration comes here, far more often than any
    // timer is due, and the fast path reads no clock for them.
    if (DispatchBusySocket(full))
        return;
    if (full && FireDueTimer())
        return;
    BuildPollSet(full, false);
    // NOTE: a first poll without a timeout: while data streams in it finds a
    // socket ready, and the kernel then skips the timer arithmetic a timed
    // poll costs on every call (measured: several per cent of a loopback
    // transfer). Only an idle loop pays for the second, timed poll.
    int n = tvhost::syscalls.poll(l.pfds.data(), l.pfds.size(), 0);
    if (n == 0) {
        int timeout = IdleTimeout(full);
        if (timeout != 0)
            n = tvhost::syscalls.poll(l.pfds.data(), l.pfds.size(), timeout);
    }
    if (n < 0 && errno == EINTR) {
        // NOTE: curses learns of a window resize from SIGWINCH and reports it
        // as a key, though the terminal itself has nothing to read.
        GetFrontEnd().OnInput();
        return;
    }
    if (n <= 0)
        return;
    if (l.pfds.back().revents)
        DrainWake();
    DispatchOneReady();
}

} // namespace

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool IsUiThread() {
    Loop& l = L();
    if (!l.bound.load(std::memory_order_acquire))
        return true;
    return std::this_thread::get_id() == l.uiThread;
}

void BindUiThread() {
    Loop& l = L();
    l.uiThread = std::this_thread::get_id();
    l.bound.store(true, std::memory_order_release);
}

void BindUiThreadIfUnbound() {
    if (!L().bound.load(std::memory_order_acquire))
        BindUiThread();
}

void PostWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Loop& l = L();
    {
        std::lock_guard lock(l.mu);
        l.posted.push_back({hWnd, message, wParam, lParam});
        l.queued.store(true, std::memory_order_release);
    }
    Wake();
}

void RunOnUiThread(const std::function<void()>& fn) {
    if (IsUiThread()) {
        fn();
        return;
    }
    Loop& l = L();
    Call c{&fn, false};
    std::unique_lock lock(l.mu);
    l.calls.push_back(&c);
    l.queued.store(true, std::memory_order_release);
    Wake();
    l.callDone.wait(lock, [&] { return c.done; });
}

void ParkUiThreadForExit(int timeoutMs) {
    Loop& l = L();
    if (!l.bound.load(std::memory_order_acquire) || IsUiThread())
        return;
    struct Park {
        std::mutex mu;
        std::condition_variable cv;
        bool parked = false;
        std::function<void()> fn;
        Call call{nullptr, false};
    };
    // Never freed: if the user-interface thread is not serving calls within
    // the timeout, it may still take this one while the exit goes on.
    auto* park = new Park;
    park->fn = [park] {
        {
            std::lock_guard lock(park->mu);
            park->parked = true;
        }
        park->cv.notify_all();
        for (;;)
            ::pause(); // the process ends around this thread
    };
    park->call.fn = &park->fn;
    {
        std::lock_guard lock(l.mu);
        l.calls.push_back(&park->call);
        l.queued.store(true, std::memory_order_release);
    }
    Wake();
    std::unique_lock lock(park->mu);
    park->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [park] { return park->parked; });
}

void RunModal(HWND hWnd) {
    Loop& l = L();
    BindUiThreadIfUnbound();
    l.modalStack.push_back(hWnd);
    while (IsLiveWindow(hWnd) && !Win(hWnd)->endRequested)
        ModalIteration();
    l.modalStack.erase(std::find(l.modalStack.begin(), l.modalStack.end(), hWnd));
}

short WaitRestricted(int fd, short events, std::int64_t deadlineMs) {
    Loop& l = L();
    ++l.holdDepth;
    short result = 0;
    pollfd pf[2];
    for (;;) {
        ServeCalls();
        MaybePaint();
        int timeout = PaintTimeout();
        if (deadlineMs != 0) {
            std::int64_t left = std::max<std::int64_t>(0, deadlineMs - NowMs());
            timeout = timeout < 0 ? static_cast<int>(left) : std::min<int>(timeout, left);
        }
        pf[0] = {l.wakeFd, POLLIN, 0};
        pf[1] = {fd, events, 0};
        int n = tvhost::syscalls.poll(pf, fd >= 0 ? 2 : 1, timeout);
        if (n > 0 && pf[0].revents)
            DrainWake();
        if (n > 0 && fd >= 0 && pf[1].revents) {
            result = pf[1].revents;
            break;
        }
        if (deadlineMs != 0 && NowMs() >= deadlineMs)
            break;
    }
    --l.holdDepth;
    return result;
}

void EnableCloseSignals(bool on) {
    if (on == g_signalsOn)
        return;
    struct sigaction sa {};
    sa.sa_handler = on ? OnCloseSignal : SIG_DFL;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a blocking read of the list answer returns EINTR.
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    g_signalsOn = on;
}

void AddSocket(SocketEntry* entry) {
    L().sockets.push_back(entry);
}

void RemoveSocket(SocketEntry* entry) {
    auto& v = L().sockets;
    v.erase(std::remove(v.begin(), v.end(), entry), v.end());
}

void MarkDirty() {
    L().dirty = true;
}

void KillWindowTimers(HWND hWnd) {
    auto& v = L().timers;
    v.erase(std::remove_if(v.begin(), v.end(), [hWnd](const Timer& t) { return t.hWnd == hWnd; }),
            v.end());
}

void PaintNow() {
    DoPaint(true);
}

// ---- 5. User input ---------------------------------------------------------

namespace {

HWND TopModal() {
    auto& s = L().modalStack;
    for (auto it = s.rbegin(); it != s.rend(); ++it)
        if (IsLiveWindow(*it) && !Win(*it)->endRequested)
            return *it;
    return nullptr;
}

bool IsTabStop(HWND c) {
    const Window& w = *Win(c);
    return w.type == WindowType::Control && w.ctl && (w.ctl->style & WS_TABSTOP) && w.visible;
}

HWND Focused(HWND dlg) {
    const Window& w = *Win(dlg);
    if (w.focus >= 0 && w.focus < static_cast<int>(w.children.size()))
        return w.children[static_cast<std::size_t>(w.focus)];
    return nullptr;
}

HWND FirstOfKind(HWND dlg, ControlKind kind) {
    for (HWND c : Win(dlg)->children)
        if (Win(c)->type == WindowType::Control && Win(c)->kind == kind)
            return c;
    return nullptr;
}

void MoveFocus(HWND dlg, int step) {
    Window& w = *Win(dlg);
    int n = static_cast<int>(w.children.size());
    int start = w.focus >= 0 ? w.focus : (step > 0 ? -1 : n);
    for (int k = 1; k <= n; ++k) {
        int i = ((start + step * k) % n + n) % n;
        if (IsTabStop(w.children[static_cast<std::size_t>(i)])) {
            w.focus = i;
            MarkDirty();
            return;
        }
    }
}

void Command(HWND dlg, int nID, UINT code, HWND ctl) {
    ::SendMessage(dlg, WM_COMMAND, MAKEWPARAM(nID, code), reinterpret_cast<LPARAM>(ctl));
}

void SelectInList(HWND dlg, HWND list, int index) {
    Window& w = *Win(list);
    int n = static_cast<int>(w.items.size());
    if (n == 0)
        return;
    index = std::clamp(index, 0, n - 1);
    if (w.sel == index)
        return;
    w.sel = index;
    MarkDirty();
    if (w.ctl && (w.ctl->style & LBS_NOTIFY))
        Command(dlg, w.nID, LBN_SELCHANGE, list);
}

void KeyOnMessageBox(HWND box, Key key) {
    if (key == Key::Tab || key == Key::BackTab || key == Key::Up || key == Key::Down)
        return;
    Window& w = *Win(box);
    bool cancel =
        (key == Key::Escape || key == Key::Close) && (w.box.type & MB_TYPEMASK) == MB_OKCANCEL;
    w.result = cancel ? IDCANCEL : IDOK;
    w.endRequested = true;
}

bool IsButton(HWND c) {
    ControlKind kind = Win(c)->kind;
    return kind == ControlKind::PushButton || kind == ControlKind::DefPushButton;
}

void KeyOnDialog(HWND dlg, Key key) {
    HWND focus = Focused(dlg);
    HWND list = FirstOfKind(dlg, ControlKind::ListBox);
    switch (key) {
    case Key::Escape:
        Command(dlg, IDCANCEL, BN_CLICKED, nullptr);
        return;
    case Key::Close:
        ::SendMessage(dlg, WM_CLOSE, 0, 0);
        return;
    case Key::Tab:
    case Key::BackTab:
        MoveFocus(dlg, key == Key::Tab ? 1 : -1);
        return;
    case Key::Up:
    case Key::Down:
        if (list)
            SelectInList(dlg, list, Win(list)->sel + (key == Key::Up ? -1 : 1));
        return;
    case Key::Space:
        if (focus && IsButton(focus))
            Command(dlg, Win(focus)->nID, BN_CLICKED, focus);
        return;
    case Key::Enter:
        break;
    }
    if (focus && IsButton(focus)) {
        Command(dlg, Win(focus)->nID, BN_CLICKED, focus);
    } else if (focus && Win(focus)->kind == ControlKind::ListBox) {
        Command(dlg, Win(focus)->nID, LBN_DBLCLK, focus);
    } else if (HWND def = FirstOfKind(dlg, ControlKind::DefPushButton)) {
        Command(dlg, Win(def)->nID, BN_CLICKED, def);
    } else {
        Command(dlg, IDOK, BN_CLICKED, nullptr);
    }
}

} // namespace

void HandleKey(Key key) {
    HWND top = TopModal();
    if (!top)
        return;
    if (Win(top)->type == WindowType::MessageBox)
        KeyOnMessageBox(top, key);
    else
        KeyOnDialog(top, key);
}

void HandleListSelection(int nIndex) {
    HWND top = TopModal();
    if (!top || Win(top)->type != WindowType::Dialog)
        return;
    if (HWND list = FirstOfKind(top, ControlKind::ListBox))
        SelectInList(top, list, nIndex);
}

void PostKey(Key key) {
    PushInput({false, key, 0});
}

void PostListSelection(int nIndex) {
    PushInput({true, Key::Enter, nIndex});
}

} // namespace tvhost

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    if (hWnd == nullptr || lpTimerFunc != nullptr)
        return 0;
    UINT_PTR result = 0;
    tvhost::RunOnUiThread([&] {
        if (!tvhost::IsLiveWindow(hWnd))
            return;
        auto& timers = tvhost::L().timers;
        const std::int64_t interval = std::max<UINT>(uElapse, 10); // USER_TIMER_MINIMUM
        const tvhost::Timer t{hWnd, nIDEvent, interval, tvhost::NowMs() + interval};
        auto it = std::find_if(timers.begin(), timers.end(), [&](const tvhost::Timer& x) {
            return x.hWnd == hWnd && x.id == nIDEvent;
        });
        if (it != timers.end())
            *it = t;
        else
            timers.push_back(t);
        result = nIDEvent;
    });
    return result;
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    BOOL found = FALSE;
    tvhost::RunOnUiThread([&] {
        auto& timers = tvhost::L().timers;
        auto it = std::find_if(timers.begin(), timers.end(), [&](const tvhost::Timer& x) {
            return x.hWnd == hWnd && x.id == uIDEvent;
        });
        if (it != timers.end()) {
            timers.erase(it);
            found = TRUE;
        }
    });
    return found;
}

ULONGLONG GetTickCount64() {
    return static_cast<ULONGLONG>(tvhost::NowMs());
}
