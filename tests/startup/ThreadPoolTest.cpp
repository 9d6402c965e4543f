#include "startup/UN_ThreadUtilities.h"

#include "support/BridgeTestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using UN_ThreadUtilities::TSimpleThread;
using UN_ThreadUtilities::TThreadPool;
using UN_ThreadUtilities::TThreadQueue;
using test_support::Eventually;

namespace
{

void* Item(std::intptr_t n)
{
    return reinterpret_cast<void*>(n);
}

TEST(ThreadQueue, HandsOutItemsInOrderThenEndsOnceFinalized)
{
    TThreadQueue queue;
    for (std::intptr_t n = 1; n <= 3; ++n)
        queue.Push(Item(n));
    void* data = nullptr;
    ASSERT_TRUE(queue.Pop(data));
    EXPECT_EQ(data, Item(1));

    queue.Finalize();
    queue.Finalize(); // may run any number of times
    EXPECT_TRUE(queue.Finalized());
    // Items still queued are not handed out once the queue is finalized.
    EXPECT_FALSE(queue.Pop(data));
    EXPECT_EQ(data, nullptr);
    EXPECT_FALSE(queue.Pop(data));
    EXPECT_THROW(queue.Push(Item(9)), EThreadStackFinalized);
}

// What the log's worker uses to take the lines queued behind the one it was handed.
TEST(ThreadQueue, TryPopTakesWhatIsQueuedWithoutWaitingAndNothingOnceFinalized)
{
    TThreadQueue queue;
    void* data = Item(7);
    EXPECT_FALSE(queue.TryPop(data));
    EXPECT_EQ(data, nullptr);
    queue.Push(Item(1));
    queue.Push(Item(2));
    ASSERT_TRUE(queue.TryPop(data));
    EXPECT_EQ(data, Item(1));
    queue.Finalize();
    EXPECT_FALSE(queue.TryPop(data));
    EXPECT_EQ(data, nullptr);
}

TEST(ThreadQueue, OneFinalizeWakesEveryWaitingThread)
{
    TThreadQueue queue;
    std::atomic<int> waiting{0};
    std::atomic<int> ended{0};
    std::vector<std::jthread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            void* data = nullptr;
            ++waiting;
            while (queue.Pop(data))
            {
            }
            ++ended;
        });
    EXPECT_TRUE(Eventually([&] { return waiting == 4; }));
    // The queue is empty and open: every Pop must block. A waiter that came back
    // here never waited, and the wake-up below would prove nothing.
    EXPECT_FALSE(Eventually([&] { return ended > 0; }, std::chrono::milliseconds(200)))
        << "Pop returned from an empty, open queue";

    queue.Finalize();
    EXPECT_TRUE(Eventually([&] { return ended == 4; })) << ended << " of 4 waiters woke up";
    // A wake-up that reached only some would leave the rest waiting for ever.
    while (ended < 4)
        queue.Finalize();
}

TEST(ThreadQueue, PushAfterFinalizeNamesTheReason)
{
    TThreadQueue queue;
    queue.Finalize();
    try
    {
        queue.Push(Item(1));
        FAIL() << "Push after Finalize must raise";
    }
    catch (const EThreadStackFinalized& e)
    {
        EXPECT_STREQ(e.what(), "Stack is finalized");
    }
}

TEST(WorkerPool, OneWorkerHandlesItemsOneAtATimeInOrder)
{
    std::mutex lock;
    std::vector<std::intptr_t> handled;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    {
        TThreadPool pool(
            [&](void* data, TSimpleThread&) {
                if (++inside > 1)
                    overlapped = true;
                // Stays inside a moment on purpose, so that a second worker would overlap.
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                {
                    std::lock_guard<std::mutex> guard(lock);
                    handled.push_back(reinterpret_cast<std::intptr_t>(data));
                }
                --inside;
            },
            1);
        for (std::intptr_t n = 1; n <= 50; ++n)
            pool.Add(Item(n));
        Eventually([&] {
            std::lock_guard<std::mutex> guard(lock);
            return handled.size() == 50;
        });
    }
    ASSERT_EQ(handled.size(), 50u);
    for (std::size_t i = 0; i < handled.size(); ++i)
        EXPECT_EQ(handled[i], std::intptr_t(i + 1));
    EXPECT_FALSE(overlapped);
}

TEST(WorkerPool, HandlerFailureDoesNotStopThePool)
{
    std::atomic<int> handled{0};
    {
        TThreadPool pool(
            [&](void* data, TSimpleThread&) {
                if (data == Item(1))
                    throw std::runtime_error("bad item");
                ++handled;
            },
            1);
        pool.Add(Item(1));
        pool.Add(Item(2));
        Eventually([&] { return handled == 1; });
    }
    EXPECT_EQ(handled, 1);
}

TEST(WorkerPool, DestroyWaitsForTheBusyItemAndDropsTheQueuedOnes)
{
    std::mutex lock;
    std::condition_variable changed;
    bool busy = false;
    bool release = false;
    std::atomic<int> started{0};
    std::atomic<int> finished{0};

    auto pool = std::make_unique<TThreadPool>(
        [&](void*, TSimpleThread&) {
            ++started;
            std::unique_lock<std::mutex> guard(lock);
            busy = true;
            changed.notify_all();
            changed.wait(guard, [&] { return release; });
            ++finished;
        },
        1);
    pool->Add(Item(1));
    pool->Add(Item(2));
    pool->Add(Item(3));
    {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return busy; });
    }

    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        pool.reset();
        destroyed = true;
    });
    EXPECT_FALSE(Eventually([&] { return destroyed.load(); }, std::chrono::milliseconds(100)))
        << "the pool must not end before its busy item";
    EXPECT_EQ(finished, 0);
    {
        std::lock_guard<std::mutex> guard(lock);
        release = true;
    }
    changed.notify_all();
    destroyer.join();
    EXPECT_EQ(started, 1);
    EXPECT_EQ(finished, 1);
}

TEST(WorkerPool, PoolWithoutWorkersAcceptsItemsAndStops)
{
    TThreadPool pool([](void*, TSimpleThread&) { FAIL() << "no worker may run"; }, 0);
    EXPECT_NO_THROW(pool.Add(Item(1)));
}

} // namespace
