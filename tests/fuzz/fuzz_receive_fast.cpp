// Fuzz target: the receive state machine on arbitrary server streams (see
// receive_harness.h), the same runs as fuzz_receive with the install step
// called in place on the user-interface thread. No thread to start and wait
// for: many times the executions per second of fuzz_receive, for the long
// campaigns; fuzz_receive keeps the worker thread's paths covered.
#include "install/install_step.h"
#include "receive_harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetInstallInline(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return receivefuzz::RunInput(data, size, false);
}
