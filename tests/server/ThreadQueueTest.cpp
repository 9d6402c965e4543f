#include "server/UThreadQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using UThreadQueue::TThreadQueue;

// Long enough for a thread that is not blocked to finish; only used to show that
// a thread IS blocked, never to measure speed.
constexpr auto BlockedFor = 300ms;
// Only to keep a broken queue from hanging the test run.
constexpr auto Generous = 10s;

// Counts its own destruction, so a test sees who destroyed what.
struct TItem
{
    TItem(int AValue, std::shared_ptr<int> ADestroyed) : Value(AValue), Destroyed(std::move(ADestroyed)) {}
    ~TItem() { ++*Destroyed; }
    int Value;
    std::shared_ptr<int> Destroyed;
};

class ThreadQueue : public ::testing::Test
{
protected:
    std::unique_ptr<TItem> Item(int value) { return std::make_unique<TItem>(value, Destroyed); }

    std::shared_ptr<int> Destroyed = std::make_shared<int>(0);
    TThreadQueue<TItem> Queue{64};
};

TEST_F(ThreadQueue, ObjectsComeOutInTheOrderTheyWentIn)
{
    for (int i = 0; i < 64; ++i)
        Queue.Push(Item(i));
    EXPECT_EQ(Queue.Count(), 64);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(Queue.Pop()->Value, i);
    EXPECT_EQ(Queue.PushCount(), 64);
    EXPECT_EQ(Queue.PopCount(), 64);
    EXPECT_EQ(Queue.Count(), 0);
}

TEST_F(ThreadQueue, The65thPushWaitsUntilAPopFreesAPlace)
{
    for (int i = 0; i < 64; ++i)
        Queue.Push(Item(i));
    auto pushed = std::async(std::launch::async, [this] { Queue.Push(Item(64)); });
    EXPECT_EQ(pushed.wait_for(BlockedFor), std::future_status::timeout);

    EXPECT_EQ(Queue.Pop()->Value, 0);
    ASSERT_EQ(pushed.wait_for(Generous), std::future_status::ready);
    EXPECT_EQ(Queue.Count(), 64);
    EXPECT_EQ(Queue.PushCount(), 65);
    EXPECT_EQ(*Destroyed, 1) << "only the popped object is gone";
}

TEST_F(ThreadQueue, PopOnAnEmptyQueueWaitsForAPush)
{
    auto popped = std::async(std::launch::async, [this] { return Queue.Pop(); });
    EXPECT_EQ(popped.wait_for(BlockedFor), std::future_status::timeout);
    Queue.Push(Item(7));
    ASSERT_EQ(popped.wait_for(Generous), std::future_status::ready);
    EXPECT_EQ(popped.get()->Value, 7);
}

TEST_F(ThreadQueue, TerminateReleasesAWaitingConsumerAndLaterPopsReturnNullAtOnce)
{
    auto popped = std::async(std::launch::async, [this] { return Queue.Pop(); });
    EXPECT_EQ(popped.wait_for(BlockedFor), std::future_status::timeout);
    Queue.Terminate();
    ASSERT_EQ(popped.wait_for(Generous), std::future_status::ready);
    EXPECT_EQ(popped.get(), nullptr);

    auto again = std::async(std::launch::async, [this] { return Queue.Pop(); });
    ASSERT_EQ(again.wait_for(Generous), std::future_status::ready);
    EXPECT_EQ(again.get(), nullptr);
    EXPECT_TRUE(Queue.Terminated());
}

TEST_F(ThreadQueue, TerminateReleasesEverySuccessiveWaitingConsumer)
{
    std::future<std::unique_ptr<TItem>> consumers[3];
    for (auto& consumer : consumers)
        consumer = std::async(std::launch::async, [this] { return Queue.Pop(); });
    // The point of this pause: the consumers get to block on the empty queue (the
    // queue shows no count of its waiters to wait for).
    std::this_thread::sleep_for(BlockedFor);
    Queue.Terminate();
    for (auto& consumer : consumers)
    {
        ASSERT_EQ(consumer.wait_for(Generous), std::future_status::ready);
        EXPECT_EQ(consumer.get(), nullptr);
    }
}

TEST_F(ThreadQueue, AfterTerminateTheQueuedObjectsAreDrainedInOrderThenNull)
{
    for (int i = 1; i <= 3; ++i)
        Queue.Push(Item(i));
    Queue.Terminate();
    Queue.Terminate();
    for (int i = 1; i <= 3; ++i)
    {
        auto item = Queue.Pop();
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->Value, i);
    }
    EXPECT_EQ(Queue.Pop(), nullptr);
    EXPECT_EQ(Queue.Pop(), nullptr);
}

TEST_F(ThreadQueue, PushAfterTerminateDestroysTheObjectAndCountsNothing)
{
    Queue.Push(Item(1));
    Queue.Terminate();
    Queue.Push(Item(2));
    EXPECT_EQ(*Destroyed, 1);
    EXPECT_EQ(Queue.Count(), 1);
    EXPECT_EQ(Queue.PushCount(), 1);
}

TEST_F(ThreadQueue, TerminateWaitsForAProducerBlockedOnAFullQueue)
{
    for (int i = 0; i < 64; ++i)
        Queue.Push(Item(i));
    auto producer = std::async(std::launch::async, [this] { Queue.Push(Item(64)); });
    EXPECT_EQ(producer.wait_for(BlockedFor), std::future_status::timeout);
    auto terminator = std::async(std::launch::async, [this] { Queue.Terminate(); });
    EXPECT_EQ(terminator.wait_for(BlockedFor), std::future_status::timeout);

    Queue.Pop();
    ASSERT_EQ(producer.wait_for(Generous), std::future_status::ready);
    ASSERT_EQ(terminator.wait_for(Generous), std::future_status::ready);
    // The producer's object made it in before the queue closed.
    int last = -1;
    while (auto item = Queue.Pop())
        last = item->Value;
    EXPECT_EQ(last, 64);
}

TEST_F(ThreadQueue, ClearAndDestructionDestroyWhatIsStillQueued)
{
    {
        TThreadQueue<TItem> queue(8);
        queue.Push(Item(1));
        queue.Push(Item(2));
    }
    EXPECT_EQ(*Destroyed, 2) << "a queue going away must not leak its objects";

    for (int i = 0; i < 5; ++i)
        Queue.Push(Item(i));
    Queue.Terminate();
    Queue.Clear();
    EXPECT_EQ(*Destroyed, 7);
    EXPECT_EQ(Queue.Count(), 0);
}

TEST(Semaphore, WaitForReportsSignalledAndTimedOut)
{
    UThreadQueue::TSemaphore semaphore(nullptr, 2, 1);
    EXPECT_EQ(semaphore.WaitFor(0), UThreadQueue::TWaitResult::wrSignaled);
    EXPECT_EQ(semaphore.WaitFor(0), UThreadQueue::TWaitResult::wrTimeout);
    semaphore.Release();
    semaphore.Release();
    EXPECT_THROW(semaphore.Release(), std::system_error) << "a count past its maximum is a fault, not ignored";
}

} // namespace
