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

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetInstallInline(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return receivefuzz::RunInput(
        data, size, {.workerThread = false, .showProgress = false, .memorySockets = true});
}
