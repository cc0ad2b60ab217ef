// Fuzz target: the receive state machine on arbitrary server streams (see
// receive_harness.h), the install step on its own worker thread as in the
// product, its messages and its end of the window marshalled back to the
// user-interface thread.
#include "receive_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return receivefuzz::RunInput(data, size, {.workerThread = true, .showProgress = true});
}
