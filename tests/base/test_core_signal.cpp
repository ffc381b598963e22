// IJXSignal subscriber lists (re-entrant and cross-thread changes) and CJXListOBJ.
#include "JXListOBJ.h"
#include "JXSignal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
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
        m_Seen = {pSender, pParam1, pParam2};
        m_Code = nCode;
        if (m_Log != nullptr) m_Log->push_back(m_Id);
        if (++m_Calls == 1 && m_Action) m_Action();
        return 0;
    }
    int OnOther(CJXObject*, uint32_t, void*, void*) { return ++m_OtherCalls, 0; }

    int32_t m_Id;
    Log* m_Log;
    std::function<void()> m_Action;
    int32_t m_Calls = 0;
    int32_t m_OtherCalls = 0;
    std::vector<void*> m_Seen;
    uint32_t m_Code = 0;
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
    EXPECT_TRUE(a.m_Calls == 1 && a.m_OtherCalls == 1 && a.m_Code == 2106u);
    EXPECT_EQ(a.m_Seen, (std::vector<void*>{&sender, &nValue, &sig}));
    EXPECT_EQ(sig.Detach(&a, kOnOther), JX_OK);
    EXPECT_EQ(sig.Detach(&a, kOnOther), JX_ERR_STATE);
    EXPECT_EQ(sig.Commit(&sender, 4101, nullptr, nullptr), 1);
    EXPECT_EQ(a.m_OtherCalls, 1);
}

// Inside its first call (actor -1: before any) the actor runs steps: dN detach N, aN attach N,
// A attach all others, n a nested Commit in which 1 detaches all; then two Commits ({}: all).
TEST(CoreSignal, ChangesInsideACall)
{
    const struct {
        const char* name;
        int32_t actor;
        std::string steps;
        int32_t firstCount;
        Log first;
        int32_t live;
        Log second;
    } rows[] = {
        {"detach itself", 1, "d1", 3, {0, 1, 2}, 2, {0, 2}},
        {"detach an earlier one", 1, "d0", 3, {0, 1, 2}, 2, {1, 2}},
        {"detach a later one: takes effect in this Commit", 1, "d2", 2, {0, 1}, 2, {0, 1}},
        {"detach and attach again: to the end, from the next Commit", 1, "d1a1", 3, {0, 1, 2}, 3, {0, 2, 1}},
        {"nested Commit detaches all: the outer skips 1 and 2", 0, "n", 1, {0, 0, 1}, 0, {}},
        {"outside a Commit, one from the middle of 20", -1, "d5", 19, {}, 19, {}},
        {"100 attached: moves the entries while walked", 0, "A", 1, {0}, 101, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        IJXSignal sig;
        Log log;
        const int32_t nSubs = row.steps == "A" ? 101 : row.actor < 0 ? 20 : 3;
        std::vector<CSubscriber> subs;
        subs.reserve(size_t(nSubs));
        Log all;
        for (int32_t i = 0; i < nSubs; ++i) {
            subs.emplace_back(i, &log);
            all.push_back(i);
            if (row.steps == "A" && i > 0) continue;   // the actor attaches them
            ASSERT_EQ(sig.Attach(&subs.back(), kOnSignal), JX_OK);
        }
        Log results;
        std::function<void(const std::string&)> run = [&](const std::string& steps) {
            for (size_t i = 0; i + 1 < steps.size(); i += 2) {
                CSubscriber& s = subs[size_t(steps[i + 1] - '0')];
                results.push_back(steps[i] == 'd' ? sig.Detach(&s, kOnSignal) : sig.Attach(&s, kOnSignal));
            }
            if (steps == "A") {
                for (size_t i = 1; i < subs.size(); ++i)
                    results.push_back(sig.Attach(&subs[i], kOnSignal));
            }
            if (steps != "n") return;
            subs[1].m_Action = [&] { run("d0d1d2"); };
            results.push_back(sig.Commit(nullptr, 1, nullptr, nullptr) == 2 ? JX_OK : JX_ERR_FAIL);
        };
        if (row.actor < 0) run(row.steps);
        if (row.actor >= 0) subs[size_t(row.actor)].m_Action = [&] { run(row.steps); };
        EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), row.firstCount);
        Log first = row.first.empty() ? all : row.first;
        if (row.actor < 0) first.erase(first.begin() + 5);
        EXPECT_EQ(log, first);
        EXPECT_FALSE(results.empty());
        EXPECT_EQ(results, Log(results.size(), JX_OK));
        EXPECT_EQ(sig.GetCount(), row.live);
        log.clear();
        Log second = row.second.empty() && row.live > 0 ? all : row.second;
        if (row.actor < 0) second.erase(second.begin() + 5);
        EXPECT_EQ(sig.Commit(nullptr, 0, nullptr, nullptr), static_cast<int32_t>(second.size()));
        EXPECT_EQ(log, second);
    }
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
    for (CGuarded& g : guarded)
        EXPECT_EQ(g.m_Violations.load(), 0);
    EXPECT_GT(steady.m_Calls, 0);
    EXPECT_EQ(sig.GetCount(), 1);
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
    Log want;
    for (int32_t i = 0; i < 50; ++i) {
        ASSERT_EQ(list.Add(new int32_t(i)), i);
        if (i != 10) want.push_back(i);
    }
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
    EXPECT_EQ(list.m_Freed, want);
    EXPECT_EQ(list.Add(new int32_t(7)), 0);   // usable again; the destructor frees it
    CJXListOBJ plain(0);                      // a step of 0 still grows
    int32_t items[3] = {1, 2, 3};
    for (int32_t& n : items)
        EXPECT_EQ(plain.Add(&n), &n - items);
}

}   // namespace
