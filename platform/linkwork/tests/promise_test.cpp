#include "platform/linkwork/Promise.h"

#include <gtest/gtest.h>

#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace Tickerly::Linkwork;

using namespace Qt::Literals::StringLiterals;

TEST(Promise, TakesOnlyTheFirstValue)
{
    Promise<int> promise;
    EXPECT_FALSE(promise.isResolved());
    EXPECT_FALSE(promise.value());
    EXPECT_TRUE(promise.setValue(1));
    EXPECT_FALSE(promise.setValue(2));
    EXPECT_EQ(promise.value(), 1);

    const Promise<int> already(std::optional<int>(7));
    EXPECT_TRUE(already.isResolved());
    EXPECT_FALSE(already.setValue(8));
    EXPECT_EQ(already.value(), 7);
    EXPECT_FALSE(Promise<int>(std::nullopt).isResolved());
}

TEST(Promise, RunsEachFunctionOnceInOrderOfRegistration)
{
    Promise<QString> promise;
    std::vector<QString> calls;
    promise.onValue([&](const QString& v) { calls.push_back(u"a:"_s + v); });
    promise.onValue([&](const QString& v) { calls.push_back(u"b:"_s + v); });
    EXPECT_TRUE(calls.empty());
    promise.resolver()(u"x"_s);
    promise.setValue(u"y"_s);
    // Registered after the value: runs at once, with the first value.
    promise.onValue([&](const QString& v) { calls.push_back(u"c:"_s + v); });
    EXPECT_EQ(calls, (std::vector<QString> { u"a:x"_s, u"b:x"_s, u"c:x"_s }));
}

TEST(Promise, CopiesShareOneValue)
{
    Promise<int> a;
    const Promise<int> b = a;
    int seen = 0;
    b.onValue([&](int v) { seen = v; });
    a.setValue(3);
    EXPECT_EQ(seen, 3);
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == Promise<int>());
}

TEST(Promise, KeepsWhatAFunctionHoldsOnlyUntilDelivery)
{
    struct Owner {
        Promise<int> promise;
    };
    auto owner = std::make_shared<Owner>();
    std::weak_ptr<Owner> weak = owner;
    int delivered = 0;
    // The owner lives only through its own promise's function: a cycle until the value comes.
    owner->promise.onValue([owner, &delivered](int v) { delivered = v; });
    Promise<int> promise = owner->promise;
    owner.reset();
    EXPECT_FALSE(weak.expired());
    promise.setValue(5);
    EXPECT_EQ(delivered, 5);
    EXPECT_TRUE(weak.expired());
}

TEST(Promise, SetThroughTheHandleItsOwnFunctionKeepsAlive)
{
    struct Owner {
        Promise<int> promise;
    };
    auto owner = std::make_shared<Owner>();
    Owner* raw = owner.get();
    std::vector<int> delivered;
    owner->promise.onValue([owner, &delivered](int v) { delivered.push_back(v); });
    owner->promise.onValue([&delivered](int v) { delivered.push_back(v + 1); });
    owner.reset();
    // The first function lets go of the owner, and with it the handle being set.
    raw->promise.setValue(5);
    EXPECT_EQ(delivered, (std::vector<int> { 5, 6 }));
}

TEST(Promise, DeliversOnceWhenSetAndChainedFromOtherThreads)
{
    for (int round = 0; round < 50; ++round) {
        Promise<int> promise;
        std::atomic<int> runs { 0 };
        std::atomic<int> wrong { 0 };
        std::thread setters[2] = {
            std::thread([&] { promise.setValue(42); }),
            std::thread([&] { promise.setValue(42); }),
        };
        for (int i = 0; i < 200; ++i) {
            promise.onValue([&](int v) {
                runs.fetch_add(1);
                if (v != 42)
                    wrong.fetch_add(1);
            });
        }
        for (auto& t : setters)
            t.join();
        EXPECT_EQ(runs.load(), 200);
        EXPECT_EQ(wrong.load(), 0);
    }
}

TEST(Reducep, FoldsInArrayOrderWhateverTheOrderOfArrival)
{
    std::vector<Promise<int>> promises(5);
    auto folded
        = reducep(promises, QString(), [](QString acc, int v) { return acc + QString::number(v); });
    // Set from the last to the first, each on a thread of its own.
    for (int i = 4; i >= 0; --i) {
        EXPECT_FALSE(folded.isResolved());
        std::thread([&promises, i] { promises[size_t(i)].setValue(i); }).join();
    }
    EXPECT_EQ(folded.value(), u"01234"_s);
}

TEST(Reducep, GivesTheInitialValueForNoPromisesAndFoldsSetPromisesAtOnce)
{
    auto empty = reducep(std::vector<Promise<int>> {}, 9, [](int a, int b) { return a + b; });
    EXPECT_EQ(empty.value(), 9);

    std::vector<Promise<int>> set { Promise<int>(std::optional(1)),
        Promise<int>(std::optional(2)) };
    auto sum = reducep(set, 10, [](int a, int b) { return a + b; });
    EXPECT_EQ(sum.value(), 13);
}

TEST(Reducep, HandlesManyPromisesSetConcurrently)
{
    constexpr int count = 2000;
    std::vector<Promise<int>> promises(count);
    auto folded = reducep(promises, std::vector<int>(), [](std::vector<int> acc, int v) {
        acc.push_back(v);
        return acc;
    });
    std::thread a([&] {
        for (int i = 0; i < count; i += 2)
            promises[size_t(i)].setValue(i);
    });
    std::thread b([&] {
        for (int i = count - 1; i > 0; i -= 2)
            promises[size_t(i)].setValue(i);
    });
    a.join();
    b.join();
    ASSERT_TRUE(folded.isResolved());
    const auto values = *folded.value();
    ASSERT_EQ(values.size(), size_t(count));
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(values[size_t(i)], i);
}
