// Host backend: the dotted-address parser behind inet_addr.
#pragma once

#include "platform/wintypes.h"

namespace tvhost {

// The address a dotted text names (a, a.b, a.b.c or a.b.c.d, each part
// decimal, octal or hex, as inet_addr reads it), in network order; false
// when the text is no such address. Unlike inet_addr it tells
// 255.255.255.255 from a text that is no address.
bool ParseDottedAddress(const char* text, ULONG& address);

} // namespace tvhost
