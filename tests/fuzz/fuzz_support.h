// Shared harness of the decompressor fuzz targets: the process exit of the
// fatal path becomes an exception, the input is served from memory through
// the file layer as the driver would leave it, and the output is counted and
// dropped (a run's writes fail as on a full disk past 128 KB).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

// What the exit handler throws: the decompressor ended the "process".
struct Aborted {
    int32_t code;
};

// Makes the decompressor's fatal path throw Aborted instead of exiting.
void install_exit_handler();

// Makes the decompressor's state what the driver leaves before it calls a
// member decoder: quiet, no output file to delete, the input buffer filled
// from a file holding magic followed by data, with the magic consumed.
// Returns the input descriptor. Reads and writes on the input and output
// descriptors it sets never reach the system.
int start_member(const uint8_t magic[2], const uint8_t* data, size_t size);

// Runs fn, swallowing the decompressor's abort (whose code must be 1).
// Returns false when fn was aborted.
template <class Fn> bool run_guarded(Fn fn);

} // namespace fuzz

template <class Fn> bool fuzz::run_guarded(Fn fn) {
    try {
        fn();
        return true;
    } catch (const Aborted& a) {
        if (a.code != 1)
            __builtin_trap(); // the fatal path always ends with code 1
        return false;
    }
}
