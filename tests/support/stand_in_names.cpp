#include "stand_in_names.h"

#include "JXNet.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

CNameService s_Names;

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

int NumericLookup(const char* pHost, const char* pPort, addrinfo** ppList)
{
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    return getaddrinfo(pHost, pPort, &hints, ppList);
}

int StandInResolve(const char* pHost, const char* pPort, const addrinfo* pHints, addrinfo** ppList)
{
    CNameService& names = s_Names;
    const std::string host(pHost);
    {
        std::unique_lock<std::mutex> lock(names.m_Mutex);
        ++names.m_Calls;
        names.m_MaxActive = std::max(names.m_MaxActive.load(), ++names.m_Active);
        if (host.compare(0, 5, "hang.") == 0) {
            names.m_Gate.wait(lock, [&] { return names.m_Open || names.m_Permits > 0; });
            if (!names.m_Open) --names.m_Permits;
        }
    }
    if (EndsWith(host, ".slow")) std::this_thread::sleep_for(std::chrono::milliseconds(CNameService::kSlowMs));
    int nRet = EAI_NONAME;
    if (host == "localhost") nRet = getaddrinfo(pHost, pPort, pHints, ppList);
    if (EndsWith(host, ".test")) {
        nRet = NumericLookup("127.0.0.1", pPort, ppList);
        addrinfo* pV6 = nullptr;
        if (nRet == 0 && host == "dual.test" && NumericLookup("::1", pPort, &pV6) == 0) {
            // freeaddrinfo releases node by node, so the chain goes whole.
            addrinfo* pLast = pV6;
            while (pLast->ai_next)
                pLast = pLast->ai_next;
            pLast->ai_next = *ppList;
            *ppList = pV6;
        }
    }
    std::lock_guard<std::mutex> lock(names.m_Mutex);
    --names.m_Active;
    names.m_ExitAfterDestroyed = names.m_ExitAfterDestroyed || names.m_Destroyed;
    return nRet;
}

}   // namespace

void CNameService::Release(int32_t nPermits, bool bOpen)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Permits += nPermits;
    m_Open = m_Open || bOpen;
    m_Gate.notify_all();
}

CNameGuard::CNameGuard() : m_Names(s_Names)
{
    std::lock_guard<std::mutex> lock(m_Names.m_Mutex);
    m_Names.m_Calls = m_Names.m_Active = m_Names.m_MaxActive = m_Names.m_Permits = 0;
    m_Names.m_Open = m_Names.m_Destroyed = m_Names.m_ExitAfterDestroyed = false;
    JXNetSetResolver(&StandInResolve);
}

CNameGuard::~CNameGuard()
{
    m_Names.OpenGate();
    JXNetSetResolver(nullptr);
}
