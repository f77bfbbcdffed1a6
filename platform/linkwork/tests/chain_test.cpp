#include "platform/linkwork/Chain.h"

#include <gtest/gtest.h>

#include <QString>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;

using namespace Qt::Literals::StringLiterals;

namespace {

Error failure() { return Error::withMessage(u"test"_s, 7, u"failed"_s); }

Promise<Result<int>> pending() { return Promise<Result<int>>(); }

} // namespace

TEST(Chain, MapsAPromisedResultOnlyOnOk)
{
    auto source = pending();
    int calls = 0;
    auto mapped = source >> [&](int v) {
        ++calls;
        return QString::number(v * 2);
    };
    EXPECT_FALSE(mapped.isResolved());
    source.setValue(Result<int>::Ok(21));
    ASSERT_TRUE(mapped.isResolved());
    EXPECT_EQ(mapped.value()->value(), u"42"_s);

    auto failed = pending();
    auto passed = failed >> [&](int v) {
        ++calls;
        return v;
    };
    failed.setValue(Result<int>::Error(failure()));
    EXPECT_EQ(passed.value()->error(), failure());
    EXPECT_EQ(calls, 1);
}

TEST(Chain, RunsOnceWhenChainedOntoAResolvedPromise)
{
    Promise<Result<int>> done(Result<int>::Ok(1));
    int calls = 0;
    auto next = done >> [&](int v) {
        ++calls;
        return v + 1;
    };
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(next.value()->value(), 2);
}

TEST(Chain, FlattensResultsAndPromisesAndTurnsNothingIntoAnError)
{
    auto source = pending();
    Promise<Result<QString>> inner;
    auto viaPromise = source >> [inner](int) { return inner; };
    auto viaResult = source >>
        [](int v) { return v > 0 ? Result<int>::Ok(v) : Result<int>::Error(failure()); };
    auto viaOptional = source >> [](int v) { return v > 5 ? std::optional<int>(v) : std::nullopt; };
    auto viaVoid = source >> [](int) {};
    source.setValue(Result<int>::Ok(3));

    EXPECT_FALSE(viaPromise.isResolved());
    inner.setValue(Result<QString>::Ok(u"late"_s));
    EXPECT_EQ(viaPromise.value()->value(), u"late"_s);
    EXPECT_EQ(viaResult.value()->value(), 3);
    ASSERT_TRUE(viaOptional.value()->isError());
    EXPECT_EQ(viaOptional.value()->error().domain(), Linkwork::noValueError().domain());
    EXPECT_EQ(viaOptional.value()->error().code(), Linkwork::NoValueErrorCode);
    EXPECT_TRUE(viaVoid.value()->isOk());
}

TEST(Chain, KeepsTheOrderOfAChainAcrossSteps)
{
    auto source = pending();
    std::vector<int> steps;
    auto end = source >> [&](int v) {
        steps.push_back(1);
        return v + 1;
    } >> [&](int v) {
        steps.push_back(2);
        return v * 10;
    };
    source.setValue(Result<int>::Ok(1));
    EXPECT_EQ(end.value()->value(), 20);
    EXPECT_EQ(steps, (std::vector<int> { 1, 2 }));
}

TEST(Chain, MapsPromisedOptionalsOnlyWhenAValueIsThere)
{
    Promise<std::optional<int>> some;
    Promise<std::optional<int>> none;
    int calls = 0;
    auto a = some >> [&](int v) {
        ++calls;
        return v + 1;
    };
    auto b = none >> [&](int v) {
        ++calls;
        return v + 1;
    };
    some.setValue(1);
    none.setValue(std::nullopt);
    EXPECT_EQ(*a.value(), std::optional<int>(2));
    EXPECT_EQ(*b.value(), std::nullopt);
    EXPECT_EQ(calls, 1);
}

TEST(Chain, MapsPlainPromisesAndWaitsForReturnedOnes)
{
    Promise<int> source;
    Promise<QString> inner;
    auto text = source >> [inner](int) { return inner; };
    auto length = text >> [](const QString& s) { return s.size(); };
    source.setValue(1);
    EXPECT_FALSE(length.isResolved());
    inner.setValue(u"four"_s);
    EXPECT_EQ(length.value(), 4);
}

TEST(Chain, AppliesFunctionsToOptionalsResultsArraysAndValues)
{
    const std::optional<int> some = 2;
    const std::optional<int> none;
    EXPECT_EQ(
        some >> [](int v) { return v * 3; }, std::optional<int>(6));
    EXPECT_EQ(
        none >> [](int v) { return v * 3; }, std::nullopt);
    EXPECT_EQ(
        some >> [](int v) { return v > 5 ? std::optional<int>(v) : std::nullopt; }, std::nullopt);

    // Nothing into a function giving a promise: a promise already set to nothing, or to Error.
    auto noSource = none >> [](int) { return Promise<std::optional<int>>(); };
    EXPECT_EQ(noSource.value(), std::optional<std::optional<int>>(std::optional<int>()));
    auto noResult = none >> [](int) { return pending(); };
    ASSERT_TRUE(noResult.isResolved());
    EXPECT_TRUE(noResult.value()->isError());

    const auto ok = Result<int>::Ok(4);
    EXPECT_EQ((ok >> [](int v) { return std::optional<int>(v + 1); }).value(), 5);
    EXPECT_TRUE((ok >> [](int) { return std::optional<int>(); }).isError());
    EXPECT_EQ((Result<int>::Error(failure()) >> [](int v) { return v; }).error(), failure());

    // Arrays keep their order and drop the functions' empty results.
    const QList<int> list { 1, 2, 3, 4 };
    EXPECT_EQ(
        list >> [](int v) { return v * v; }, (std::vector<int> { 1, 4, 9, 16 }));
    EXPECT_EQ(
        list >> [](int v) { return v % 2 ? std::optional<int>(v) : std::nullopt; },
        (std::vector<int> { 1, 3 }));

    EXPECT_EQ(
        u"abc"_s >> [](const QString& s) { return s.size(); }, 3);
}

TEST(Chain, PairsOptionalsAndValuesWithPromisedOptionals)
{
    EXPECT_EQ(std::optional<int>(1) + std::optional<QString>(u"a"_s),
        std::optional(std::pair<int, QString>(1, u"a"_s)));
    EXPECT_EQ(std::optional<int>() + std::optional<QString>(u"a"_s), std::nullopt);
    EXPECT_EQ(std::optional<int>(1) + std::optional<QString>(), std::nullopt);

    Promise<std::optional<QString>> found;
    Promise<std::optional<QString>> lost;
    auto made = (7 + found) >>
        [](const std::pair<int, QString>& p) { return p.second.repeated(p.first); };
    auto none = 7 + lost;
    found.setValue(u"x"_s);
    lost.setValue(std::nullopt);
    EXPECT_EQ(*made.value(), std::optional<QString>(u"xxxxxxx"_s));
    EXPECT_EQ(*none.value(), std::nullopt);
}
