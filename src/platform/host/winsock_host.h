// Host backend: the stand-in of Windows Sockets 1.1 as the SDK declares it
// (socket types, FD_* events, WSAE* error numbers, the address structures and
// helpers the client uses). Included through platform/wintypes.h only, never
// directly.
#pragma once

// NOTE: SOCK_STREAM and INADDR_NONE are the C library's (same values as
// Windows Sockets'): the C library's headers cannot follow a definition of
// their own, and the host backend needs both. The BSD calls they declare are
// the ones winsock2.h declares too. Only <arpa/inet.h> stays out: its
// inet_addr would clash with the one below.
#include <netinet/in.h>
#include <sys/socket.h>

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET (static_cast<SOCKET>(~0))
#define SOCKET_ERROR (-1)

#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_OOB 0x04
#define FD_ACCEPT 0x08
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20

#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEMSGSIZE 10040
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAEHOSTUNREACH 10065
#define WSANOTINITIALISED 10093
#define WSAHOST_NOT_FOUND 11001

// What the socket layer reports at start-up (AfxSocketInit fills it).
typedef struct WSAData {
    WORD wVersion;     // the version in use: 1.1 is 0x0101
    WORD wHighVersion; // the highest the layer supports
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
} WSADATA;

// NOTE: the struct tags differ from the C library's (in_addr, sockaddr_in) so
// that the host backend can include both; the client uses the typedef names.
typedef struct tv_in_addr {
    union {
        struct {
            UCHAR s_b1, s_b2, s_b3, s_b4;
        } S_un_b;
        struct {
            USHORT s_w1, s_w2;
        } S_un_w;
        ULONG S_addr; // network byte order
    } S_un;
} IN_ADDR;

typedef struct tv_sockaddr {
    USHORT sa_family;
    char sa_data[14];
} SOCKADDR;

typedef struct tv_sockaddr_in {
    short sin_family;
    USHORT sin_port; // network byte order
    IN_ADDR sin_addr;
    char sin_zero[8];
} SOCKADDR_IN;

static_assert(sizeof(SOCKADDR_IN) == 16, "SOCKADDR_IN is 16 bytes");
static_assert(sizeof(SOCKADDR) == 16, "SOCKADDR is 16 bytes");

// Dotted IPv4 text to an address in network byte order; INADDR_NONE for text
// that is empty or malformed. Accepts the classic forms a, a.b, a.b.c, a.b.c.d
// with decimal, octal (0...) and hexadecimal (0x...) parts.
ULONG inet_addr(const char* cp);
// Dotted text of an address; the result lives in a per-thread buffer that
// the next call overwrites.
char* inet_ntoa(IN_ADDR in);

int WSAGetLastError();
void WSASetLastError(int iError);
