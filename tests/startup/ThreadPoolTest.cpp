#include "startup/UN_ThreadUtilities.h"

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
    std::atomic<int> ended{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            void* data = nullptr;
            while (queue.Pop(data))
            {
            }
            ++ended;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.Finalize();
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(ended, 4);
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
        for (int i = 0; i < 500; ++i)
        {
            {
                std::lock_guard<std::mutex> guard(lock);
                if (handled.size() == 50)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
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
        for (int i = 0; i < 500 && handled == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
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

    std::thread destroyer([&] { pool.reset(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(finished, 0) << "the pool must not end before its busy item";
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
