// Sockets of the base library: the handle holder and the TCP control
// connection with its send and receive buffers.
#pragma once

#include "JXNet.h"
#include "JXString.h"

class JXBASE_API CJXSocket : public CJXObject {
public:
    CJXSocket();
    ~CJXSocket() override;
    CJXSocket(const CJXSocket&) = delete;
    CJXSocket& operator=(const CJXSocket&) = delete;

    // The handle; JX_INVALID_SOCKET (all bits set) when none.
    JXSOCKET m_Socket = JX_INVALID_SOCKET;

    bool IsValid() const { return m_Socket != JX_INVALID_SOCKET; }
    // Close the handle (if any); the object may be opened again.
    virtual void Close();
    // bBlock false: non-blocking. 0 or JX_ERR_FAIL.
    static int32_t EnableBlock(JXSOCKET s, bool bBlock);
};

class JXBASE_API CJXSocketTCP : public CJXSocket {
public:
    // The longest Open may hold its caller.
    static constexpr uint32_t kConnectTimeoutMs = 2000;

    CJXSocketTCP();
    ~CJXSocketTCP() override;

    // Connect to a host name, IPv4 address or IPv6 literal (with or without
    // brackets). Resolution and connect together take at most the time-out
    // (name resolution runs on a helper thread that is abandoned, not waited
    // for, when it takes too long). nTimeoutMs 0 or above kConnectTimeoutMs
    // means kConnectTimeoutMs. Each address a name gives is tried in turn.
    // The socket is left non-blocking, with TCP_NODELAY; the buffers are not
    // touched. 0, JX_ERR_ARG (no host, port 0, bad brackets), JX_ERR_TIMEOUT
    // or JX_ERR_FAIL.
    int32_t Open(const char* pHost, uint16_t nPort, uint32_t nTimeoutMs = kConnectTimeoutMs);
    // Close the handle; the send and receive buffers keep their content.
    void Close() override;

    // Per-pass hooks; the base versions do nothing and return 0.
    virtual int32_t OnSend(CJXFdSet* pWrite);
    virtual int32_t OnRecv(CJXFdSet* pRead);

    // If the socket is in the set (or the set is null), read up to n bytes.
    // Count, 0 (nothing to read now), or negative: JX_ERR_FAIL when the peer
    // closed or the socket failed, JX_ERR_ARG for no buffer or n < 1.
    int32_t OnRecv(CJXFdSet* pRead, char* pBuf, int32_t n);
    // If the socket is in the set (or the set is null), send up to n bytes.
    // Count sent (0: would block) or JX_ERR_FAIL.
    int32_t OnSend(CJXFdSet* pWrite, const char* pData, int32_t n);
    // Send all n bytes, waiting at most nTimeoutMs in all. Bytes sent (n), or
    // JX_ERR_TIMEOUT / JX_ERR_FAIL; after either, part of the data may have
    // gone out, so the connection is no longer usable for a byte stream.
    virtual int32_t Send(const char* pData, int32_t n, uint32_t nTimeoutMs = 2000);

    // Output waits in the send buffer.
    bool IsSending() const { return m_SendBuf.m_Length > 0; }
    CJXString& GetSendBuf() { return m_SendBuf; }
    CJXString& GetRecvBuf() { return m_RecvBuf; }

protected:
    CJXString m_SendBuf;
    CJXString m_RecvBuf;
};
