// Platform layer, shared by the backends: the decompressor's open flags
// (CRT_O_* of platform/crt_io.h) in a system's own values.
#pragma once

#include "platform/crt_io.h"

namespace tvplatform {

// One system's values of the open flags the decompressor uses.
struct OpenFlagValues {
    int rdonly, wronly, rdwr, creat, excl;
};

// The system's flags for flags, with always (what every open of the backend
// takes) added.
constexpr int SystemOpenFlags(int flags, const OpenFlagValues& v, int always) {
    int f = always;
    switch (flags & 3) {
    case CRT_O_WRONLY:
        f |= v.wronly;
        break;
    case CRT_O_RDWR:
        f |= v.rdwr;
        break;
    default:
        f |= v.rdonly;
    }
    if (flags & CRT_O_CREAT)
        f |= v.creat;
    if (flags & CRT_O_EXCL)
        f |= v.excl;
    return f;
}

} // namespace tvplatform
