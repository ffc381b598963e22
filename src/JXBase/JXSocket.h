// Sockets of the base library: the handle holder and the TCP control
// connection with its send and receive buffers.
#pragma once

#include "JXNet.h"
#include "JXString.h"
#include "JXTime.h"

class CJXResolver;

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

    // Start a connection without waiting. A numeric host (IPv4, IPv6 with or
    // without brackets) starts the connect at once; a host name goes to
    // pResolver (JX_ERR_ARG when it is null) and its connect starts in a
    // later ContinueConnect. The whole attempt, lookup included, ends with
    // JX_ERR_TIMEOUT after nTimeoutMs (measured with CJXTimeout; 0 means
    // kConnectTimeoutMs). An earlier connection or attempt is closed first;
    // the buffers are not touched. JX_OK: under way, call ContinueConnect
    // until it stops returning 1 (even a connect that completed at once is
    // reported there). JX_ERR_ARG: no host, port 0, bad brackets, brackets
    // around a name, host too long, or a name without resolver. JX_ERR_FAIL:
    // the lookup could not be queued, or no address could start a connect.
    // The socket keeps pResolver until the lookup is collected or the
    // attempt ends or is closed: close (or destroy) the socket before
    // destroying a resolver it may still hold.
    int32_t StartConnect(const char* pHost, uint16_t nPort, CJXResolver* pResolver,
                         uint32_t nTimeoutMs = kConnectTimeoutMs);
    // Never waits: 1 still connecting, JX_OK connected (m_Socket is the
    // connected non-blocking socket with TCP_NODELAY), JX_ERR_TIMEOUT, or
    // JX_ERR_FAIL when the name gave no address or every address failed.
    // Each address of a name is tried in turn (a refused ::1 goes on to
    // 127.0.0.1). Outside an attempt: JX_OK when connected, else JX_ERR_STATE.
    int32_t ContinueConnect();
    // An attempt is under way (StartConnect returned JX_OK and
    // ContinueConnect has not yet reported the outcome).
    bool IsConnecting() const { return m_ConnBusy; }
    // Milliseconds until the attempt under way times out (0 without one).
    uint32_t ConnectTimeLeft() const { return m_ConnBusy ? m_ConnTimeout.Remaining() : 0; }

    // Connect and wait for the outcome, holding the caller at most
    // nTimeoutMs (0 or above kConnectTimeoutMs means kConnectTimeoutMs, on
    // the real clock even while tests drive CJXTime). The steps are those of
    // StartConnect and ContinueConnect, with a wait on the socket in between.
    // A numeric host needs no thread. A host name is looked up by one
    // resolver shared by every Open of the process: a lookup that outlasts
    // Open's time-out is cancelled and Open returns at its time-out; the
    // lookup thread itself cannot be stopped, so it is not waited for here
    // but when the last CJXSocket of the process is destroyed, which destroys
    // the shared resolver and joins its threads (that wait lasts as long as
    // the slowest lookup still running, bounded by the system's own lookup
    // time-outs). No thread is ever left detached, and none runs once every
    // socket is gone. A name service that hangs ties up at most
    // CJXResolver::kDefaultThreads threads; later Opens by name queue behind
    // them and end at their time-out. 0, JX_ERR_ARG, JX_ERR_TIMEOUT or
    // JX_ERR_FAIL.
    int32_t Open(const char* pHost, uint16_t nPort, uint32_t nTimeoutMs = kConnectTimeoutMs);
    // Close the handle and end an attempt under way (its lookup is
    // cancelled and its resolver forgotten); the send and receive buffers
    // keep their content.
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

    // Why the connection attempt or the transfer last failed: a JX_NET_ERR_*
    // value (JX_NET_ERR_NONE when nothing failed since the attempt began)
    // and the system's error number behind it (0 when the failure had none:
    // a name without address, the attempt's time-out, the peer's close).
    int32_t LastFailure(int32_t& nSysError) const
    {
        nSysError = m_FailSys;
        return m_FailKind;
    }

    // Output waits in the send buffer.
    bool IsSending() const { return m_SendBuf.m_Length > 0; }
    CJXString& GetSendBuf() { return m_SendBuf; }
    CJXString& GetRecvBuf() { return m_RecvBuf; }

protected:
    CJXString m_SendBuf;
    CJXString m_RecvBuf;

private:
    int32_t BeginAttempt(const char* pHost, uint16_t nPort, CJXResolver* pResolver, bool bShared, uint32_t nTimeoutMs);
    bool StartNextAddress();
    int32_t EndAttempt(int32_t nResult);
    // The attempt's time-out passed: JX_ERR_TIMEOUT.
    int32_t TimeOut();
    void NoteFailure(int32_t nKind, int32_t nSysError);
    // A failed send or receive: the thread's last socket error.
    int32_t NoteTransferFailure();

    // The attempt under way: the resolver and handle of its lookup (none
    // once collected), the addresses and the next one to try, its time-out.
    CJXResolver* m_ConnResolver = nullptr;
    int32_t m_ConnLookup = 0;
    addrinfo* m_ConnList = nullptr;
    const addrinfo* m_ConnNext = nullptr;
    CJXTimeout m_ConnTimeout;
    bool m_ConnBusy = false;
    int32_t m_FailKind = 0;   // JX_NET_ERR_*
    int32_t m_FailSys = 0;
};
