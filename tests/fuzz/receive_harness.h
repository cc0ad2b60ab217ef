// The receive state machine of the update exchange on arbitrary server
// streams, cut into pieces the fuzzer chooses: the harness of fuzz_receive
// (the install step on its worker thread, as in the product) and
// fuzz_receive_fast (the install step called in place, no per-piece display).
//
// Input: byte 0 chooses the local state (bits 0-1: File.ver absent, valid
// "1 5 7 4", damaged "1 5 7 9" or of another format "2 10 20 a"; bit 2: the
// connection runs over 127.0.0.1; bit 3: the server's close carries an error
// code); byte 1 gives the number of piece sizes (low 4 bits, plus one); then
// the piece sizes, one byte each, used in turn; then the server's stream.
//
// The progress window runs modally as in the product. Its socket is real (a
// socket pair, so the event loop can poll it; or in memory, Mode) but the
// syscall table serves the stream: each receive gets at most the rest of the current piece, and a
// redirect's new connection continues the same stream. Every piece is handed
// to the window as a data notification; then the close notification; then
// the user closes the window. The decompressor is a stand-in that checks the
// received-file list when the install step hands it over.
//
// Invariants after every run, against an independent reading of the stream:
// no file outside the scratch directory; the received-file list is a prefix
// of the files the stream completes, each with a complete ".gz" file; the
// version pair is that of the last completed file per group (or File.ver's);
// File.ver is rewritten exactly when files were installed; only the messages
// the exchange can show were shown.
#pragma once

#include <cstddef>
#include <cstdint>

namespace receivefuzz {

struct Mode {
    // The install step runs on a worker thread (not SetInstallInline): the
    // thread start the client asks for is served by one thread the harness
    // keeps, and the run waits for the worker to have returned before it ends.
    bool workerThread = true;
    // The labels, bars and caption are refreshed for every piece received, as
    // in the product. Off, the window leaves them as they are: they only show
    // what the exchange has done, no invariant reads them, and refreshing them
    // was the larger part of a run.
    bool showProgress = true;
    // Each connection is a socket pair, the client's end polled by the event
    // loop as in the product. On, a connection is in memory: the syscall
    // table answers for its descriptor (always writable, never readable, as
    // the socket pair whose other end never writes), which saves the kernel
    // a socket pair, its closes and the polls per connection.
    bool memorySockets = false;
};

// One run on one input; traps when an invariant breaks.
int RunInput(const std::uint8_t* data, std::size_t size, const Mode& mode);

} // namespace receivefuzz
