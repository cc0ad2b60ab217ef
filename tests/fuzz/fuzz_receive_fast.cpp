// Fuzz target: the receive state machine on arbitrary server streams (see
// receive_harness.h), the same runs and invariants as fuzz_receive with what
// a run spends outside the exchange's logic left out: the install step is
// called in place on the user-interface thread (no thread to start and wait
// for) and the labels, bars and caption are not refreshed for every piece
// (receive_harness.h, Mode), and each connection is in memory rather than a
// socket pair. Many times the executions per second of fuzz_receive, for the
// long campaigns; fuzz_receive keeps the worker thread's, the display's and
// the real sockets' paths covered.
#include "install/install_step.h"
#include "receive_harness.h"

// AddressSanitizer's quarantine of freed blocks, 256 MB by default, holds
// the frees of thousands of runs here (a run frees some tens of kilobytes),
// and cycling through that much memory puts each run's blocks (the client's
// stream buffers above all) on pages long untouched: with 16 MB a run took
// about a sixth less time. 16 MB still holds a run's frees many times over,
// so a use after free within a run is caught as before. ASAN_OPTIONS given
// at run time still win.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetInstallInline(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return receivefuzz::RunInput(
        data, size, {.workerThread = false, .showProgress = false, .memorySockets = true});
}
