// Platform layer contract, umbrella header: everything the client may use of
// the framework and the system's own names. Code above src/platform/ includes
// this (or the single headers) and nothing operating-system specific.
#pragma once

#include "platform/wintypes.h"

#include "platform/app.h"
#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "platform/wnd.h"
