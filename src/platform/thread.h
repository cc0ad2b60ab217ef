// Platform layer contract: the user-interface thread's wait for a worker. The
// worker itself is started with the C runtime's _beginthreadex, which comes with
// platform/wintypes.h. Only what the project defines itself lives here, in
// operating-system independent declarations.
#pragma once

#include "platform/wintypes.h"

// The user-interface thread's wait for a worker: returns when hThread has
// ended. (WaitForSingleObject serves nothing while it waits: a worker that
// shows a message box meanwhile would wait for ever.) Meanwhile no user input and no socket
// notification is taken and no posted message is dispatched (they are delivered later); what the
// worker asks of the user-interface thread (AfxMessageBox from the worker) is served, and the
// screen is kept painted. Returns WAIT_OBJECT_0, or WAIT_FAILED for an invalid handle.
//
// Ending the process from a worker (the decompressor's fatal path calls exit)
// is safe only while the user-interface thread waits here for that worker:
// the wait then stops the user-interface thread for good before the exit
// handlers and the destructors of statics run, so no window procedure, paint
// or socket notification runs while the runtime tears down, and the exit code
// is the worker's. What a window procedure can reach is never a static with a
// destructor (the backends keep such tables on the heap, never freed), so
// even a user-interface thread that does not stop in time (after about 2 s)
// touches nothing destroyed.
DWORD AfxWaitForWorker(HANDLE hThread);
