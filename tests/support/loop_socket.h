// A non-blocking UDP socket on 127.0.0.1 connected to itself: what it sends
// makes it readable, for tests of readiness waits.
#pragma once

#include "JXNet.h"

#include <cstring>

struct CLoopSocket {
    JXSOCKET m_Socket = JX_INVALID_SOCKET;
    CLoopSocket()
    {
        JXNetStartup();
        sockaddr_in addr;
        memset(&addr, 0, sizeof(addr));
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int32_t nLen = sizeof(addr);
        m_Socket = JXSocketCreate(AF_INET, SOCK_DGRAM, 0);
        JXSocketBind(m_Socket, reinterpret_cast<sockaddr*>(&addr), nLen);
        JXSocketGetName(m_Socket, reinterpret_cast<sockaddr*>(&addr), &nLen);
        JXSocketConnect(m_Socket, reinterpret_cast<sockaddr*>(&addr), nLen);
        JXSocketSetBlocking(m_Socket, 0);
    }
    ~CLoopSocket()
    {
        Close();
        JXNetCleanup();
    }
    CLoopSocket(const CLoopSocket&) = delete;
    CLoopSocket& operator=(const CLoopSocket&) = delete;
    void Close()
    {
        if (m_Socket != JX_INVALID_SOCKET) JXSocketClose(m_Socket);
        m_Socket = JX_INVALID_SOCKET;
    }
    bool Send() const { return JXSocketSend(m_Socket, "x", 1) == 1; }
    // Reads what waits, so the socket is no longer readable.
    void Drain() const
    {
        char buf[16];
        while (JXSocketRecv(m_Socket, buf, sizeof(buf)) > 0) {
        }
    }
};
