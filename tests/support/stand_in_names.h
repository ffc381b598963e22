// The stand-in name service of the tests of name lookups. While a CNameGuard
// lives, every lookup goes to it: *.test is 127.0.0.1 (dual.test: ::1, then
// 127.0.0.1), hang.* waits until the test lets it return, *.slow takes
// kSlowMs and finds nothing, localhost is the system's, and every other name
// is unknown: no lookup leaves the machine. Its state is static, as lookup
// threads may outlive a test.
#pragma once

#include "test_wait.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

struct CNameService {
    static constexpr int32_t kSlowMs = 1500;

    std::mutex m_Mutex;
    std::condition_variable m_Gate;
    std::atomic<int32_t> m_Calls{0}, m_Active{0}, m_MaxActive{0};   // lookups begun, under way, most at once
    int32_t m_Permits = 0;                  // waiting lookups that may return
    bool m_Open = false;                    // every waiting lookup may return
    std::atomic<bool> m_Destroyed{false};   // set by a test once a resolver is gone
    std::atomic<bool> m_ExitAfterDestroyed{false};

    void Release(int32_t nPermits, bool bOpen = false);
    void OpenGate() { Release(0, true); }
    bool WaitActive(int32_t n)
    {
        return WaitFor([&] { return m_Active == n; });
    }
};

// The stand-in for one scope, its state reset; declared after the resolvers
// of a test so that it releases their lookups first.
struct CNameGuard {
    CNameGuard();
    ~CNameGuard();
    CNameService& m_Names;
};
