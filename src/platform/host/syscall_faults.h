// Host backend, test seam: fails one call of any entry of the system-call
// table. Counting starts at construction and the real entry is put back at
// destruction:
//
//     tvhost::FailNthCall<&tvhost::Syscalls::rename> fault(2, EXDEV);
//
// makes the second rename fail with errno EXDEV and returns -1 (nullptr for
// fopen; pass the result for entries that report errors otherwise, such as
// posix_spawn or getaddrinfo). Calls from any thread are counted.
#pragma once

#include "platform/host/syscalls.h"

#include <atomic>
#include <cerrno>
#include <type_traits>

namespace tvhost {

namespace detail {

template <typename Fn> struct SyscallHook;

template <typename R, typename... A> struct SyscallHook<R (*)(A...)> {
    using Result = R;
    struct State {
        R (*real)(A...) = nullptr;
        long failAt = 0;
        int error = 0;
        R result{};
        std::atomic<long> calls{0};
    };

    template <auto Entry> static State& StateOf() {
        static State state;
        return state;
    }

    template <auto Entry> static R Call(A... args) {
        State& s = StateOf<Entry>();
        if (s.calls.fetch_add(1) + 1 == s.failAt) {
            errno = s.error;
            return s.result;
        }
        return s.real(args...);
    }
};

template <typename R> R DefaultFailure() {
    if constexpr (std::is_pointer_v<R>)
        return nullptr;
    else
        return static_cast<R>(-1);
}

} // namespace detail

template <auto Entry> class FailNthCall {
    using Fn = std::remove_reference_t<decltype(syscalls.*Entry)>;
    using Hook = detail::SyscallHook<Fn>;
    using Result = typename Hook::Result;

  public:
    // Fails call number n (1 is the next call) with errno set to error.
    FailNthCall(long n, int error) : FailNthCall(n, error, detail::DefaultFailure<Result>()) {}
    FailNthCall(long n, int error, Result result) {
        auto& s = Hook::template StateOf<Entry>();
        s.real = syscalls.*Entry;
        s.failAt = n;
        s.error = error;
        s.result = result;
        s.calls = 0;
        syscalls.*Entry = &Hook::template Call<Entry>;
    }
    ~FailNthCall() { syscalls.*Entry = Hook::template StateOf<Entry>().real; }
    FailNthCall(const FailNthCall&) = delete;
    FailNthCall& operator=(const FailNthCall&) = delete;

    // Calls made since construction, the failed one included.
    long Calls() const { return Hook::template StateOf<Entry>().calls.load(); }
};

} // namespace tvhost
