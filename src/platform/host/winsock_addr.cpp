// Host backend: inet_addr and inet_ntoa with the Windows Sockets semantics.
// NOTE: this file must not include <arpa/inet.h>, whose C declarations of the
// same names would clash with these; the address is parsed here.
#include "platform/host/winsock_addr.h"
#include "platform/socket.h"

#include <cstdio>
#include <cstring>

namespace {

// One part of a dotted address: decimal, octal (leading 0) or hex (0x).
bool ParsePart(const char*& p, unsigned long long& value) {
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    const char* start = p;
    value = 0;
    for (;; ++p) {
        int d;
        if (*p >= '0' && *p <= '9')
            d = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f')
            d = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F')
            d = *p - 'A' + 10;
        else
            break;
        if (d >= base)
            return false;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (value > 0xFFFFFFFFull)
            return false;
    }
    return p != start || base == 8;
}

} // namespace

bool tvhost::ParseDottedAddress(const char* cp, ULONG& address) {
    if (!cp || !*cp)
        return false;
    unsigned long long parts[4];
    int n = 0;
    const char* p = cp;
    for (;;) {
        if (n == 4 || !ParsePart(p, parts[n]))
            return false;
        ++n;
        if (*p != '.')
            break;
        ++p;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p != '\0')
        return false;
    // a / a.b (b: 24 bits) / a.b.c (c: 16 bits) / a.b.c.d, as inet_aton.
    unsigned long long host = parts[n - 1];
    unsigned long long limit = n == 1 ? 0xFFFFFFFFull : (0xFFFFFFFFull >> (8 * (n - 1)));
    if (host > limit)
        return false;
    for (int i = 0; i < n - 1; ++i) {
        if (parts[i] > 0xFF)
            return false;
        host |= parts[i] << (8 * (3 - i));
    }
    // Network byte order in memory: the first octet is the lowest byte.
    unsigned char bytes[4] = {
        static_cast<unsigned char>(host >> 24), static_cast<unsigned char>(host >> 16),
        static_cast<unsigned char>(host >> 8), static_cast<unsigned char>(host)};
    std::memcpy(&address, bytes, sizeof address);
    return true;
}

ULONG inet_addr(const char* cp) {
    ULONG address;
    return tvhost::ParseDottedAddress(cp, address) ? address : INADDR_NONE;
}

char* inet_ntoa(IN_ADDR in) {
    thread_local char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", in.S_un.S_un_b.s_b1, in.S_un.S_un_b.s_b2,
                  in.S_un.S_un_b.s_b3, in.S_un.S_un_b.s_b4);
    return buf;
}
