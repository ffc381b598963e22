// IJXSignal subscriber lists (re-entrant and cross-thread changes) and CJXListOBJ.
#include "JXListOBJ.h"
#include "JXSignal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace {

// A subscriber that records its calls and may run an action inside them.
class CSubscriber : public CJXObject {
public:
    explicit CSubscriber(int32_t nId = 0, std::vector<int32_t>* pLog = nullptr) : m_Id(nId), m_Log(pLog) {}

    int OnSignal(CJXObject* pSender, uint32_t nCode, void* pParam1, void* pParam2)
    {
        ++m_Calls;
        m_Sender = pSender;
        m_Code = nCode;
        m_Param1 = pParam1;
        m_Param2 = pParam2;
        if (m_Log != nullptr) {
            m_Log->push_back(m_Id);
        }
        if (m_Action) {
            m_Action();
        }
        return 0;
    }
    int OnOther(CJXObject*, uint32_t, void*, void*)
    {
        ++m_OtherCalls;
        return 0;
    }

    int32_t m_Id;
    std::vector<int32_t>* m_Log;
    std::function<void()> m_Action;
    int32_t m_Calls = 0;
    int32_t m_OtherCalls = 0;
    CJXObject* m_Sender = nullptr;
    uint32_t m_Code = 0;
    void* m_Param1 = nullptr;
    void* m_Param2 = nullptr;
};

const JXSignalFunc kOnSignal = JX_SIGNAL_FUNC(&CSubscriber::OnSignal);
const JXSignalFunc kOnOther = JX_SIGNAL_FUNC(&CSubscriber::OnOther);

TEST(CoreSignal, AttachDetachCommit)
{
    IJXSignal sig;
    CSubscriber a;
    CSubscriber sender;
    EXPECT_EQ(sig.Attach(nullptr, kOnSignal), JX_ERR_ARG);
    EXPECT_EQ(sig.Attach(&a, nullptr), JX_ERR_ARG);
    EXPECT_EQ(sig.Detach(&a, kOnSignal), JX_ERR_STATE);
    EXPECT_EQ(sig.Commit(&sender, 1, nullptr, nullptr), 0);

    EXPECT_EQ(sig.Attach(&a, kOnSignal), JX_OK);
    EXPECT_EQ(sig.Attach(&a, kOnSignal), JX_OK);   // kept once
    EXPECT_EQ(sig.Attach(&a, kOnOther), JX_OK);    // another member is another pair
    EXPECT_EQ(sig.GetCount(), 2);

    int32_t nValue = 0;
    EXPECT_EQ(sig.Commit(&sender, 2106, &nValue, &sig), 2);
    EXPECT_EQ(a.m_Calls, 1);
    EXPECT_EQ(a.m_OtherCalls, 1);
    EXPECT_EQ(a.m_Sender, &sender);
    EXPECT_EQ(a.m_Code, 2106u);
    EXPECT_EQ(a.m_Param1, &nValue);
    EXPECT_EQ(a.m_Param2, &sig);

    EXPECT_EQ(sig.Detach(&a, kOnOther), JX_OK);
    EXPECT_EQ(sig.Detach(&a, kOnOther), JX_ERR_STATE);
    EXPECT_EQ(sig.Commit(&sender, 4101, nullptr, nullptr), 1);
    EXPECT_EQ(a.m_OtherCalls, 1);
    EXPECT_EQ(sig.GetCount(), 1);
}

TEST(CoreSignal, CallsInAttachOrder)
{
    IJXSignal sig;
    std::vector<int32_t> log;
    std::vector<CSubscriber> subs;
    subs.reserve(20);
    for (int32_t i = 0; i < 20; ++i) {
        subs.emplace_back(i, &log);
    }
    for (CSubscriber& s : subs) {
        ASSERT_EQ(sig.Attach(&s, kOnSignal), JX_OK);
    }
    ASSERT_EQ(sig.Detach(&subs[5], kOnSignal), JX_OK);
    EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), 19);
    std::vector<int32_t> want;
    for (int32_t i = 0; i < 20; ++i) {
        if (i != 5) {
            want.push_back(i);
        }
    }
    EXPECT_EQ(log, want);
}

TEST(CoreSignal, DetachInsideCall)
{
    // Cases: a subscriber detaches itself, an earlier one, or a later one.
    struct Case {
        int32_t nActor;
        int32_t nTarget;
        std::vector<int32_t> firstCommit;
    };
    const Case cases[] = {
        {1, 1, {0, 1, 2}},
        {1, 0, {0, 1, 2}},
        {1, 2, {0, 1}},   // takes effect for the rest of this Commit
    };
    for (const Case& c : cases) {
        IJXSignal sig;
        std::vector<int32_t> log;
        CSubscriber subs[3] = {CSubscriber(0, &log), CSubscriber(1, &log), CSubscriber(2, &log)};
        for (CSubscriber& s : subs) {
            ASSERT_EQ(sig.Attach(&s, kOnSignal), JX_OK);
        }
        int32_t nDetachResult = 1;
        subs[c.nActor].m_Action = [&] {
            if (subs[c.nActor].m_Calls == 1) {
                nDetachResult = sig.Detach(&subs[c.nTarget], kOnSignal);
            }
        };
        EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), static_cast<int32_t>(c.firstCommit.size()));
        EXPECT_EQ(nDetachResult, JX_OK);
        EXPECT_EQ(log, c.firstCommit);
        EXPECT_EQ(sig.GetCount(), 2);

        log.clear();
        EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), 2);
        for (int32_t id : log) {
            EXPECT_NE(id, c.nTarget);
        }
        // The blanked entry was compacted away: detaching again fails.
        EXPECT_EQ(sig.Detach(&subs[c.nTarget], kOnSignal), JX_ERR_STATE);
    }
}

TEST(CoreSignal, DetachAllInsideNestedCommit)
{
    IJXSignal sig;
    std::vector<int32_t> log;
    CSubscriber a(0, &log);
    CSubscriber b(1, &log);
    ASSERT_EQ(sig.Attach(&a, kOnSignal), JX_OK);
    ASSERT_EQ(sig.Attach(&b, kOnSignal), JX_OK);
    a.m_Action = [&] {
        if (a.m_Calls == 1) {
            // A nested Commit (a subscriber that signals again) detaches everyone.
            b.m_Action = [&] {
                sig.Detach(&a, kOnSignal);
                sig.Detach(&b, kOnSignal);
            };
            EXPECT_EQ(sig.Commit(nullptr, 1, nullptr, nullptr), 2);
        }
    };
    // Outer: a(0) -> nested: a(0), b(1) detaches both -> outer skips b.
    EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), 1);
    EXPECT_EQ(log, (std::vector<int32_t>{0, 0, 1}));
    EXPECT_EQ(sig.GetCount(), 0);
    EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), 0);
}

TEST(CoreSignal, AttachInsideCall)
{
    IJXSignal sig;
    std::vector<int32_t> log;
    CSubscriber first(0, &log);
    std::vector<CSubscriber> late;
    late.reserve(100);
    for (int32_t i = 0; i < 100; ++i) {
        late.emplace_back(i + 1, &log);
    }
    ASSERT_EQ(sig.Attach(&first, kOnSignal), JX_OK);
    first.m_Action = [&] {
        if (first.m_Calls == 1) {
            // Enough attaches to move the entry array while the Commit walks it.
            for (CSubscriber& s : late) {
                ASSERT_EQ(sig.Attach(&s, kOnSignal), JX_OK);
            }
        }
    };
    EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), 1);   // new ones wait for the next Commit
    EXPECT_EQ(log, std::vector<int32_t>{0});
    EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), 101);
    EXPECT_EQ(static_cast<int32_t>(log.size()), 102);
}

TEST(CoreSignal, ReattachAfterDetachInsideCall)
{
    IJXSignal sig;
    CSubscriber a;
    ASSERT_EQ(sig.Attach(&a, kOnSignal), JX_OK);
    a.m_Action = [&] {
        if (a.m_Calls == 1) {
            EXPECT_EQ(sig.Detach(&a, kOnSignal), JX_OK);
            EXPECT_EQ(sig.Attach(&a, kOnSignal), JX_OK);
        }
    };
    EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), 1);
    EXPECT_EQ(sig.GetCount(), 1);
    EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), 1);
    EXPECT_EQ(a.m_Calls, 2);
}

// Once Detach returns on another thread, the subscriber is never called again.
class CGuarded : public CJXObject {
public:
    int OnSignal(CJXObject*, uint32_t, void*, void*)
    {
        if (m_Detached.load()) {
            ++m_Violations;
        }
        ++m_Calls;   // tells the host a call is running now
        // A Detach that returned while this call still runs would be seen here.
        for (int32_t i = 0; i < 20; ++i) {
            std::this_thread::yield();
            if (m_Detached.load()) {
                ++m_Violations;
                break;
            }
        }
        return 0;
    }
    std::atomic<bool> m_Detached{true};
    std::atomic<int32_t> m_Violations{0};
    std::atomic<int32_t> m_Calls{0};
};

TEST(CoreSignal, ConcurrentAttachDetachAndCommit)
{
    IJXSignal sig;
    CSubscriber steady;
    ASSERT_EQ(sig.Attach(&steady, kOnSignal), JX_OK);
    CGuarded guarded[2];
    const JXSignalFunc guardedFunc = JX_SIGNAL_FUNC(&CGuarded::OnSignal);

    std::atomic<bool> bStop{false};
    std::thread worker([&] {
        while (!bStop.load()) {
            sig.Commit(nullptr, 2106, nullptr, nullptr);
            std::this_thread::yield();   // the worker does other work between frames
        }
    });
    std::vector<std::thread> hosts;
    for (CGuarded& g : guarded) {
        hosts.emplace_back([&sig, &g, guardedFunc] {
            for (int32_t i = 0; i < 100; ++i) {
                g.m_Detached = false;
                const int32_t nCallsBefore = g.m_Calls.load();
                ASSERT_EQ(sig.Attach(&g, guardedFunc), JX_OK);
                // Detach once a call to us has begun (bounded wait).
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
                while (g.m_Calls.load() == nCallsBefore && std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::yield();
                }
                ASSERT_EQ(sig.Detach(&g, guardedFunc), JX_OK);
                g.m_Detached = true;
            }
        });
    }
    for (std::thread& t : hosts) {
        t.join();
    }
    bStop = true;
    worker.join();
    int32_t nCalls = 0;
    for (CGuarded& g : guarded) {
        EXPECT_EQ(g.m_Violations.load(), 0);
        nCalls += g.m_Calls.load();
    }
    EXPECT_GT(steady.m_Calls, 0);
    EXPECT_EQ(sig.GetCount(), 1);
    // Informative only: how often the race actually overlapped.
    RecordProperty("guarded_calls", nCalls);
}

class CFreeingList : public CJXListOBJ {
public:
    explicit CFreeingList(int32_t nGrow) : CJXListOBJ(nGrow) {}
    ~CFreeingList() override { RemoveAll(); }
    void OnDataFree(void* pItem) override
    {
        m_Freed.push_back(*static_cast<int32_t*>(pItem));
        delete static_cast<int32_t*>(pItem);
    }
    std::vector<int32_t> m_Freed;
};

TEST(CoreList, GrowsAndFreesEveryItem)
{
    CFreeingList list(3);
    for (int32_t i = 0; i < 50; ++i) {
        ASSERT_EQ(list.Add(new int32_t(i)), i);
    }
    EXPECT_EQ(list.GetCount(), 50);
    EXPECT_EQ(*static_cast<int32_t*>(list.GetAt(49)), 49);
    EXPECT_EQ(list.GetAt(50), nullptr);
    EXPECT_EQ(list.GetAt(-1), nullptr);

    void* pTaken = list.GetAt(10);
    EXPECT_EQ(list.RemoveAt(10), JX_OK);   // not freed: the caller took it
    delete static_cast<int32_t*>(pTaken);
    EXPECT_EQ(list.RemoveAt(-1), JX_ERR_ARG);
    EXPECT_EQ(list.RemoveAt(49), JX_ERR_ARG);
    EXPECT_EQ(*static_cast<int32_t*>(list.GetAt(10)), 11);
    EXPECT_EQ(list.GetCount(), 49);

    list.RemoveAll();
    EXPECT_EQ(list.GetCount(), 0);
    ASSERT_EQ(list.m_Freed.size(), 49u);
    for (int32_t i = 0; i < 49; ++i) {
        EXPECT_EQ(list.m_Freed[static_cast<size_t>(i)], i < 10 ? i : i + 1);
    }
    // Usable again after RemoveAll; the destructor frees what is left.
    EXPECT_EQ(list.Add(new int32_t(7)), 0);
}

TEST(CoreList, BaseFreesNothing)
{
    int32_t items[3] = {1, 2, 3};
    CJXListOBJ list(0);   // a step of 0 still grows
    for (int32_t& n : items) {
        EXPECT_GE(list.Add(&n), 0);
    }
    list.RemoveAll();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(items[2], 3);
}

}  // namespace
