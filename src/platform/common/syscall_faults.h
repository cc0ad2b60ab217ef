// Platform layer, shared test seam: fails one call of any entry of a
// backend's system-call table. Counting starts at construction and the real
// entry is put back at destruction. Each backend names it for its own table
// and its own way of reporting an error (host/syscall_faults.h,
// win32/syscall_faults.h). Calls from any thread are counted.
#pragma once

#include <atomic>
#include <type_traits>

namespace tvplatform {

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

    template <auto Entry, void (*SetError)(int)> static R Call(A... args) {
        State& s = StateOf<Entry>();
        if (s.calls.fetch_add(1) + 1 == s.failAt) {
            SetError(s.error);
            return s.result;
        }
        return s.real(args...);
    }
};

// What a failed call returns unless the test says otherwise: nullptr for a
// pointer, all bits set for a number (-1, INVALID_SOCKET,
// INVALID_FILE_ATTRIBUTES).
template <typename R> R DefaultFailure() {
    if constexpr (std::is_pointer_v<R>)
        return nullptr;
    else
        return static_cast<R>(-1);
}

} // namespace detail

template <auto& Table, auto Entry, void (*SetError)(int)> class FailNthCallOf {
    using Fn = std::remove_reference_t<decltype(Table.*Entry)>;
    using Hook = detail::SyscallHook<Fn>;

  public:
    using Result = typename Hook::Result;

    // Fails call number n (1 is the next call), reporting error.
    FailNthCallOf(long n, int error) : FailNthCallOf(n, error, detail::DefaultFailure<Result>()) {}
    FailNthCallOf(long n, int error, Result result) {
        auto& s = Hook::template StateOf<Entry>();
        s.real = Table.*Entry;
        s.failAt = n;
        s.error = error;
        s.result = result;
        s.calls = 0;
        Table.*Entry = &Hook::template Call<Entry, SetError>;
    }
    ~FailNthCallOf() { Table.*Entry = Hook::template StateOf<Entry>().real; }
    FailNthCallOf(const FailNthCallOf&) = delete;
    FailNthCallOf& operator=(const FailNthCallOf&) = delete;

    // Calls made since construction, the failed one included.
    long Calls() const { return Hook::template StateOf<Entry>().calls.load(); }
};

} // namespace tvplatform
