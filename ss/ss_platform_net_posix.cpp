// POSIX implementation of the socket shims (ss_platform_net.h).
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "ss/ss_platform_net.h"

namespace {

// Winsock numbers above this are stored in errno as they are by ss_platform_setLastSocketError; no
// POSIX errno value comes near it.
constexpr int kWinsockBase = 10000;

}  // namespace

const int SS_PLATFORM_SEND_FLAGS = MSG_NOSIGNAL;

int ss_platform_startNetwork() { return 0; }

int ss_platform_closeSocket(int descriptor) { return ::close(descriptor) == 0 ? 0 : -1; }

int ss_platform_setNonBlocking(int descriptor, int nonBlocking) {
    int flags = ::fcntl(descriptor, F_GETFL, 0);
    if (flags < 0) return -1;
    flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(descriptor, F_SETFL, flags) == 0 ? 0 : -1;
}

int ss_platform_sendNow(int descriptor, const void* bytes, int length) {
    if (length <= 0) return 0;
    for (;;) {
        const ssize_t sent = ::send(descriptor, bytes, static_cast<size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<int>(sent);
        if (errno != EINTR) return -1;
    }
}

int ss_platform_winsockCodeOf(int posixErrno) {
    switch (posixErrno) {
        case 0: return 0;
        case EINTR: return 10004;         // WSAEINTR
        case EBADF: return 10009;         // WSAEBADF
        case EACCES: return 10013;        // WSAEACCES
        case EFAULT: return 10014;        // WSAEFAULT
        case EINVAL: return 10022;        // WSAEINVAL
        case EMFILE: return 10024;        // WSAEMFILE
        case EAGAIN: return 10035;        // WSAEWOULDBLOCK (EWOULDBLOCK is the same value on Linux)
        case EINPROGRESS: return 10036;   // WSAEINPROGRESS
        case EALREADY: return 10037;      // WSAEALREADY
        case ENOTSOCK: return 10038;      // WSAENOTSOCK
        case EDESTADDRREQ: return 10039;  // WSAEDESTADDRREQ
        case EMSGSIZE: return 10040;      // WSAEMSGSIZE
        case EPROTOTYPE: return 10041;    // WSAEPROTOTYPE
        case ENOPROTOOPT: return 10042;   // WSAENOPROTOOPT
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;    // WSAEOPNOTSUPP
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        // A send on a stream whose peer has reset it: Winsock reports the reset itself.
        case EPIPE: return 10054;
        case ECONNRESET: return 10054;
        case ENOBUFS: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN: return 10058;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        default: return posixErrno;  // no Winsock counterpart (or already a Winsock number)
    }
}

int ss_platform_lastSocketError() {
    const int code = errno;
    if (code >= kWinsockBase) return code;  // stored by ss_platform_setLastSocketError
    return ss_platform_winsockCodeOf(code);
}

// errno is per thread, and the next failing call replaces it, as WSASetLastError's value is.
void ss_platform_setLastSocketError(int winsockCode) { errno = winsockCode; }
