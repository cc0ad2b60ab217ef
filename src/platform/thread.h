// Platform layer contract: the C runtime's thread start and the user-interface
// thread's wait for a worker. Only operating-system independent code here.
#pragma once

#include "platform/wintypes.h"

// Starts start_address(arglist) on a new thread at once. Returns the thread's
// handle as a number (0 on failure); it is waited on with WaitForSingleObject
// or AfxWaitForWorker and released with CloseHandle. initflag must be 0.
std::uintptr_t _beginthreadex(void* security, unsigned stack_size,
                              unsigned(__stdcall* start_address)(void*), void* arglist,
                              unsigned initflag, unsigned* thrdaddr);

// The user-interface thread's wait for a worker: returns when hThread has
// ended. (WaitForSingleObject serves nothing while it waits: a worker that
// shows a message box meanwhile would wait for ever.) Meanwhile no user input and no socket
// notification is taken and no posted message is dispatched (they are delivered later); what the
// worker asks of the user-interface thread (AfxMessageBox from the worker) is served, and the
// screen is kept painted. Returns WAIT_OBJECT_0, or WAIT_FAILED for an invalid handle.
DWORD AfxWaitForWorker(HANDLE hThread);
