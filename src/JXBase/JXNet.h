// The platform layer for sockets: the only place that knows whether it runs on
// BSD sockets or Winsock 2. Everything above it uses these types and calls.
#pragma once

#include "JXBaseDefs.h"

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <winsock2.h>
#  include <ws2tcpip.h>
#else
#  include <arpa/inet.h>
#  include <netdb.h>
#  include <netinet/in.h>
#  include <netinet/tcp.h>
#  include <sys/socket.h>
#endif

typedef uintptr_t JXSOCKET;
constexpr JXSOCKET JX_INVALID_SOCKET = ~JXSOCKET(0);

// What the last failed socket call of this thread means to callers.
enum : int32_t {
    JX_NET_ERR_NONE = 0,
    JX_NET_ERR_WOULDBLOCK = 1,   // try again later (also "connect in progress")
    JX_NET_ERR_REFUSED = 2,
    JX_NET_ERR_RESET = 3,   // connection reset or aborted
    JX_NET_ERR_UNREACHABLE = 4,
    JX_NET_ERR_OTHER = 5,
    JX_NET_ERR_TIMEDOUT = 6,   // the peer stopped answering (a connect or a send that gave up)
    // Outcomes of a connection that no system call names (CJXSocketTCP).
    JX_NET_ERR_HOST_NOT_FOUND = 7,   // the name gave no address
    JX_NET_ERR_CLOSED = 8,           // the peer closed the connection
};

// A set of sockets for a readiness check, of at most kMax sockets. On Linux the
// check uses poll, so any descriptor number works; on Windows it is select.
class JXBASE_API CJXFdSet {
public:
    static constexpr int32_t kMax = 64;

    CJXFdSet() { Zero(); }
    void Zero();
    // False when the set is full or the socket is invalid.
    bool Add(JXSOCKET s);
    bool IsSet(JXSOCKET s) const;
    int32_t GetCount() const { return m_Count; }

    // Used by JXSelect: after it, only ready sockets are set.
    JXSOCKET m_Sockets[kMax];
    bool m_Ready[kMax];
    int32_t m_Count = 0;
};

extern "C" {
// Start the socket library (Winsock start-up; nothing on Linux). Counted, so
// each call is paired with JXNetCleanup. 0 or JX_ERR_FAIL.
JXBASE_API int32_t JXNetStartup();
JXBASE_API void JXNetCleanup();

// Wait at most nTimeoutMs (0: never wait; negative: no limit) until a socket
// of pRead is readable (or closed, or in error) or one of pWrite is writable
// (or failed to connect). Either set may be null. Returns the number of ready
// sockets, 0, JX_ERR_FAIL, or JX_ERR_ARG for no sockets and no limit.
JXBASE_API int32_t JXSelect(CJXFdSet* pRead, CJXFdSet* pWrite, int32_t nTimeoutMs);

// A new socket (not inherited by child processes), or JX_INVALID_SOCKET.
// Sockets are made between JXNetStartup and JXNetCleanup (CJXSocket holds one
// start-up for its lifetime).
JXBASE_API JXSOCKET JXSocketCreate(int32_t nFamily, int32_t nType, int32_t nProtocol);
JXBASE_API int32_t JXSocketClose(JXSOCKET s);
// bBlock 0: non-blocking. 0 or JX_ERR_FAIL.
JXBASE_API int32_t JXSocketSetBlocking(JXSOCKET s, int32_t bBlock);
// The last socket error of this thread, as a JX_NET_ERR_* value.
JXBASE_API int32_t JXSocketLastError();
// A platform error number (errno, WSAGetLastError, SO_ERROR) as a JX_NET_ERR_* value.
JXBASE_API int32_t JXSocketErrorKind(int32_t nRaw);
// The platform's own last error number (errno or WSAGetLastError), for logs.
JXBASE_API int32_t JXSocketLastErrorRaw();
// Bytes sent or received (recv: 0 means the peer closed), or -1 with
// JXSocketLastError telling why.
JXBASE_API int32_t JXSocketSend(JXSOCKET s, const void* pData, int32_t n);
JXBASE_API int32_t JXSocketRecv(JXSOCKET s, void* pBuf, int32_t n);
JXBASE_API int32_t JXSocketSendTo(JXSOCKET s, const void* pData, int32_t n, const sockaddr* pTo, int32_t nToLen);
JXBASE_API int32_t JXSocketRecvFrom(JXSOCKET s, void* pBuf, int32_t n, sockaddr* pFrom, int32_t* pFromLen);
// Up to nCount datagrams (IPv4) in one call, each of at most nSlot bytes:
// datagram i lands at pBuf + i * nSlot, its length in pLens[i], its sender in
// pFrom[i]. recvmmsg on Linux; one recvfrom on Windows. The count, or -1 with
// JXSocketLastError telling why (JX_NET_ERR_WOULDBLOCK: none waiting).
JXBASE_API int32_t JXSocketRecvBatch(JXSOCKET s, char* pBuf, int32_t nSlot, int32_t nCount, int32_t* pLens,
                                     sockaddr_in* pFrom);
// setsockopt with an int value. 0 or JX_ERR_FAIL.
JXBASE_API int32_t JXSocketSetOptInt(JXSOCKET s, int32_t nLevel, int32_t nName, int32_t nValue);
// setsockopt with a value of nLen bytes (ip_mreq, in_addr). 0, JX_ERR_ARG or
// JX_ERR_FAIL.
JXBASE_API int32_t JXSocketSetOpt(JXSOCKET s, int32_t nLevel, int32_t nName, const void* pValue, int32_t nLen);
// getsockopt of an int value (SO_ERROR, SO_RCVBUF). 0, JX_ERR_ARG or JX_ERR_FAIL.
JXBASE_API int32_t JXSocketGetOptInt(JXSOCKET s, int32_t nLevel, int32_t nName, int32_t* pValue);
// bind, connect and getsockname. 0, JX_ERR_ARG or JX_ERR_FAIL (JXSocketLastError
// tells why; a non-blocking connect under way gives JX_ERR_FAIL with
// JX_NET_ERR_WOULDBLOCK).
// *pLen holds the room at pAddr and gets the length of the address.
JXBASE_API int32_t JXSocketBind(JXSOCKET s, const sockaddr* pAddr, int32_t nLen);
JXBASE_API int32_t JXSocketConnect(JXSOCKET s, const sockaddr* pAddr, int32_t nLen);
JXBASE_API int32_t JXSocketGetName(JXSOCKET s, sockaddr* pAddr, int32_t* pLen);
// getpeername: the address a connected socket talks to. As JXSocketGetName.
JXBASE_API int32_t JXSocketGetPeer(JXSOCKET s, sockaddr* pAddr, int32_t* pLen);

// Name resolution with the signature and result of getaddrinfo (the result is
// released with freeaddrinfo). CJXSocketTCP::Open resolves host names through
// it; tests install a resolver of their own to stand in for a slow or failing
// name service. Null restores getaddrinfo.
typedef int (*JXResolveFunc)(const char* pHost, const char* pPort, const addrinfo* pHints, addrinfo** ppResult);
JXBASE_API void JXNetSetResolver(JXResolveFunc pFunc);
JXBASE_API JXResolveFunc JXNetGetResolver();

// A listening TCP socket on pHost (numeric IPv4 or IPv6, brackets allowed;
// null: 127.0.0.1) and nPort (0: any free port), non-blocking, with a backlog of
// nBacklog (negative: the system's maximum). *pPort (may be null) gets the
// bound port. For test servers and tools. The socket or JX_INVALID_SOCKET.
JXBASE_API JXSOCKET JXSocketListenTCP(const char* pHost, uint16_t nPort, int32_t nBacklog, uint16_t* pPort);
// Accept one connection (non-blocking socket), or JX_INVALID_SOCKET.
JXBASE_API JXSOCKET JXSocketAccept(JXSOCKET s);
}
