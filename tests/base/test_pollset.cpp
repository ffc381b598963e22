// The readiness set on loopback datagrams: add, change, remove, a socket
// closed while in the set, and a wake-up from another thread.
#include "JXPollSet.h"

#include "loop_socket.h"
#include "test_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Local copies: a DLL built by mingw-w64 exports no constexpr class members
// that gtest could bind its references to.
constexpr uint32_t kRead = CJXPollSet::kReadable;
constexpr uint32_t kWrite = CJXPollSet::kWritable;
constexpr int32_t kLongMs = 60000;

// One row: the events watched (none: removed), whether a datagram waits, and
// what one wait reports (0 events: nothing).
TEST(PollSet, AddChangeRemove)
{
    const struct {
        const char* name;
        uint32_t watch;
        uint64_t tag;
        bool datagram;
        uint32_t expect;
    } rows[] = {
        {"readable, nothing waiting", kRead, 7, false, 0},
        {"readable, a datagram", kRead, 7, true, kRead},
        {"changed to writable, new tag", kWrite, 9, false, kWrite},
        {"both", kRead | kWrite, 11, true, kRead | kWrite},
        {"removed", 0, 0, true, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CJXPollSet set;
        ASSERT_EQ(set.Open(), JX_OK);
        CLoopSocket sock;
        ASSERT_NE(sock.m_Socket, JX_INVALID_SOCKET);
        ASSERT_EQ(set.Set(sock.m_Socket, kRead, 1), JX_OK);   // first added, then as the row says
        ASSERT_EQ(set.Set(sock.m_Socket, row.watch, row.tag), JX_OK);
        if (row.datagram) {
            ASSERT_TRUE(sock.Send());
        }
        CJXPollSet::Event events[4];
        // A datagram on loopback is there at once; the bound only guards a broken set.
        const int32_t n = set.Wait(row.expect != 0 ? kWaitBoundMs : 0, events, 4);
        ASSERT_EQ(n, row.expect != 0 ? 1 : 0);
        if (n == 1) {
            EXPECT_EQ(events[0].m_Tag, row.tag);
            EXPECT_EQ(events[0].m_Events, row.expect);
        }
    }
}

// Removed before closing, as callers do, nothing is reported; closed while
// still in the set, the wait reports it at most once and then goes quiet
// instead of returning at once again and again.
TEST(PollSet, ClosedSocket)
{
    for (bool bRemoveFirst : {true, false}) {
        SCOPED_TRACE(bRemoveFirst ? "removed first" : "closed in the set");
        CJXPollSet set;
        ASSERT_EQ(set.Open(), JX_OK);
        CLoopSocket sock;
        CLoopSocket other;   // stays: the set still works for it
        ASSERT_EQ(set.Set(sock.m_Socket, kRead, 1), JX_OK);
        ASSERT_EQ(set.Set(other.m_Socket, kRead, 2), JX_OK);
        ASSERT_TRUE(sock.Send());
        const JXSOCKET s = sock.m_Socket;
        if (bRemoveFirst) {
            ASSERT_EQ(set.Set(s, 0, 0), JX_OK);
        }
        sock.Close();
        CJXPollSet::Event events[4];
        const int32_t nFirst = set.Wait(0, events, 4);
        ASSERT_GE(nFirst, 0);
        ASSERT_LE(nFirst, bRemoveFirst ? 0 : 1);
        if (nFirst == 1) {
            EXPECT_EQ(events[0].m_Tag, 1u);
        }
        EXPECT_EQ(set.Wait(0, events, 4), 0);
        EXPECT_EQ(set.Set(s, 0, 0), JX_OK);   // removing it (again) is harmless
        ASSERT_TRUE(other.Send());
        ASSERT_EQ(set.Wait(kWaitBoundMs, events, 4), 1);
        EXPECT_EQ(events[0].m_Tag, 2u);
    }
}

// A wake-up ends a wait without limit on another thread, and one that comes
// before the wait ends the next wait at once.
TEST(PollSet, WakeFromAnotherThread)
{
    CJXPollSet set;
    ASSERT_EQ(set.Open(), JX_OK);
    CJXPollSet::Event events[4];
    set.Wake();
    EXPECT_EQ(set.Wait(kLongMs, events, 4), 0);
    std::atomic<int32_t> nResult{-100};
    std::thread waiter([&] { nResult = set.Wait(-1, events, 4); });
    // Woken until it returns: a wake-up before the thread waits ends its wait too.
    EXPECT_TRUE(WaitFor([&] {
        set.Wake();
        return nResult != -100;
    }));
    waiter.join();
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(set.Wait(0, events, 4), 0);   // nothing left behind
}

}   // namespace
