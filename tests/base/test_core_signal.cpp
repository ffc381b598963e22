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

using Log = std::vector<int32_t>;

// A subscriber that records its calls and may run an action inside its first.
class CSubscriber : public CJXObject {
public:
    explicit CSubscriber(int32_t nId = 0, Log* pLog = nullptr) : m_Id(nId), m_Log(pLog) {}

    int OnSignal(CJXObject* pSender, uint32_t nCode, void* pParam1, void* pParam2)
    {
        ++m_Calls;
        m_Sender = pSender;
        m_Code = nCode;
        m_Param1 = pParam1;
        m_Param2 = pParam2;
        if (m_Log != nullptr) m_Log->push_back(m_Id);
        if (m_Action && m_Calls == 1) m_Action();
        return 0;
    }
    int OnOther(CJXObject*, uint32_t, void*, void*)
    {
        ++m_OtherCalls;
        return 0;
    }

    int32_t m_Id;
    Log* m_Log;
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
    EXPECT_EQ(sig.Commit(&sender, 1, nullptr, nullptr), 0);
    EXPECT_EQ(sig.Attach(&a, kOnSignal), JX_OK);
    EXPECT_EQ(sig.Attach(&a, kOnSignal), JX_OK);   // kept once
    EXPECT_EQ(sig.Attach(&a, kOnOther), JX_OK);    // another member is another pair
    EXPECT_EQ(sig.GetCount(), 2);
    int32_t nValue = 0;
    EXPECT_EQ(sig.Commit(&sender, 2106, &nValue, &sig), 2);
    EXPECT_TRUE(a.m_Calls == 1 && a.m_OtherCalls == 1);
    EXPECT_TRUE(a.m_Sender == &sender && a.m_Code == 2106u && a.m_Param1 == &nValue && a.m_Param2 == &sig);

    EXPECT_EQ(sig.Detach(&a, kOnOther), JX_OK);
    EXPECT_EQ(sig.Detach(&a, kOnOther), JX_ERR_STATE);
    EXPECT_EQ(sig.Commit(&sender, 4101, nullptr, nullptr), 1);
    EXPECT_EQ(a.m_OtherCalls, 1);

    // Twenty in attach order, one detached from the middle.
    Log log;
    Log want;
    std::vector<CSubscriber> subs;
    subs.reserve(20);
    IJXSignal many;
    for (int32_t i = 0; i < 20; ++i) {
        subs.emplace_back(i, &log);
        ASSERT_EQ(many.Attach(&subs.back(), kOnSignal), JX_OK);
        if (i != 5) want.push_back(i);
    }
    ASSERT_EQ(many.Detach(&subs[5], kOnSignal), JX_OK);
    EXPECT_EQ(many.Commit(nullptr, 0, nullptr, nullptr), 19);
    EXPECT_EQ(log, want);
}

// Three subscribers 0, 1, 2; inside its first call one of them changes the
// list. Each row: who acts, what it does, and the calls of two Commits.
TEST(CoreSignal, ChangesInsideACall)
{
    using Action = std::function<void(IJXSignal&, CSubscriber*, std::vector<int32_t>&)>;
    auto detach = [](std::vector<int32_t> targets) {
        return [targets](IJXSignal& sig, CSubscriber* s, std::vector<int32_t>& results) {
            for (int32_t t : targets)
                results.push_back(sig.Detach(&s[t], kOnSignal));
        };
    };
    const struct {
        const char* name;
        int32_t actor;
        Action action;
        int32_t firstCount;
        Log first;
        int32_t live;
        Log second;
    } rows[] = {
        {"detach itself", 1, detach({1}), 3, {0, 1, 2}, 2, {0, 2}},
        {"detach an earlier one", 1, detach({0}), 3, {0, 1, 2}, 2, {1, 2}},
        // Takes effect for the rest of this Commit.
        {"detach a later one", 1, detach({2}), 2, {0, 1}, 2, {0, 1}},
        {"detach and attach again: to the end, called from the next Commit",
         1,
         [](IJXSignal& sig, CSubscriber* s, std::vector<int32_t>& results) {
             results.push_back(sig.Detach(&s[1], kOnSignal));
             results.push_back(sig.Attach(&s[1], kOnSignal));
         },
         3,
         {0, 1, 2},
         3,
         {0, 2, 1}},
        // A nested Commit (a subscriber that signals again) in which 1 detaches
        // everyone: the outer Commit skips 1 and 2.
        {"nested Commit detaches all",
         0,
         [detach](IJXSignal& sig, CSubscriber* s, std::vector<int32_t>& results) {
             s[1].m_Action = [&sig, s, &results, detach] { detach({0, 1, 2})(sig, s, results); };
             results.push_back(sig.Commit(nullptr, 1, nullptr, nullptr) == 2 ? JX_OK : JX_ERR_FAIL);
         },
         1,
         {0, 0, 1},
         0,
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        IJXSignal sig;
        Log log;
        CSubscriber subs[3] = {CSubscriber(0, &log), CSubscriber(1, &log), CSubscriber(2, &log)};
        for (CSubscriber& s : subs)
            ASSERT_EQ(sig.Attach(&s, kOnSignal), JX_OK);
        std::vector<int32_t> results;
        subs[row.actor].m_Action = [&] { row.action(sig, subs, results); };
        EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), row.firstCount);
        EXPECT_EQ(log, row.first);
        EXPECT_FALSE(results.empty());
        EXPECT_EQ(results, std::vector<int32_t>(results.size(), JX_OK));
        EXPECT_EQ(sig.GetCount(), row.live);
        log.clear();
        EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), static_cast<int32_t>(row.second.size()));
        EXPECT_EQ(log, row.second);
    }
}

TEST(CoreSignal, AttachInsideCallMovesTheList)
{
    IJXSignal sig;
    Log log;
    CSubscriber first(0, &log);
    std::vector<CSubscriber> late;
    late.reserve(100);
    for (int32_t i = 0; i < 100; ++i)
        late.emplace_back(i + 1, &log);
    ASSERT_EQ(sig.Attach(&first, kOnSignal), JX_OK);
    // Enough attaches to move the entry array while the Commit walks it.
    first.m_Action = [&] {
        for (CSubscriber& s : late)
            ASSERT_EQ(sig.Attach(&s, kOnSignal), JX_OK);
    };
    EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), 1);   // new ones wait for the next Commit
    EXPECT_EQ(log, Log{0});
    EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), 101);
    EXPECT_EQ(static_cast<int32_t>(log.size()), 102);
}

// Once Detach returns on another thread, the subscriber is never called again.
class CGuarded : public CJXObject {
public:
    int OnSignal(CJXObject*, uint32_t, void*, void*)
    {
        if (m_Detached.load()) ++m_Violations;
        ++m_Calls;   // tells the host a call is running now
        // A Detach that returned while this call still runs would be seen here.
        for (int32_t i = 0; i < 20 && !m_Detached.load(); ++i)
            std::this_thread::yield();
        if (m_Detached.load()) ++m_Violations;
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
                while (g.m_Calls.load() == nCallsBefore && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::yield();
                ASSERT_EQ(sig.Detach(&g, guardedFunc), JX_OK);
                g.m_Detached = true;
            }
        });
    }
    for (std::thread& t : hosts)
        t.join();
    bStop = true;
    worker.join();
    int32_t nCalls = 0;
    for (CGuarded& g : guarded) {
        EXPECT_EQ(g.m_Violations.load(), 0);
        nCalls += g.m_Calls.load();
    }
    EXPECT_GT(steady.m_Calls, 0);
    EXPECT_EQ(sig.GetCount(), 1);
    RecordProperty("guarded_calls", nCalls);   // how often the race actually overlapped
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
    Log m_Freed;
};

TEST(CoreList, GrowsAndFreesEveryItem)
{
    CFreeingList list(3);
    for (int32_t i = 0; i < 50; ++i)
        ASSERT_EQ(list.Add(new int32_t(i)), i);
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
    Log want;
    for (int32_t i = 0; i < 50; ++i) {
        if (i != 10) want.push_back(i);
    }
    EXPECT_EQ(list.m_Freed, want);
    // Usable again after RemoveAll; the destructor frees what is left.
    EXPECT_EQ(list.Add(new int32_t(7)), 0);

    CJXListOBJ plain(0);   // a step of 0 still grows
    int32_t items[3] = {1, 2, 3};
    for (int32_t& n : items)
        EXPECT_EQ(plain.Add(&n), &n - items);
}

}   // namespace
