#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/base/OperationQueue.h"
#include "testsupport/TestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

TEST(NotificationCenter, DeliversOnThePostingThreadToMatchingObserversInOrder)
{
    NotificationCenter center;
    QStringList seen;
    int senderA = 0, senderB = 0;
    auto all = center.addObserver(u"changed"_s, nullptr, [&](const Notification& n) {
        seen.append(u"all:"_s + n.userInfo.value(u"k"_s).toString());
    });
    auto onlyA = center.addObserver(
        u"changed"_s, &senderA, [&](const Notification&) { seen.append(u"a"_s); });
    auto otherName = center.addObserver(
        u"other"_s, nullptr, [&](const Notification&) { seen.append(u"x"_s); });

    center.post(u"changed"_s, &senderA, { { u"k"_s, 1 } });
    center.post(u"changed"_s, &senderB, { { u"k"_s, 2 } });
    EXPECT_EQ(seen, (QStringList { u"all:1"_s, u"a"_s, u"all:2"_s }));

    std::atomic<QThread*> deliveredOn { nullptr };
    auto threadCheck = center.addObserver(
        u"t"_s, nullptr, [&](const Notification&) { deliveredOn = QThread::currentThread(); });
    QThread* postedOn = nullptr;
    OperationQueue worker;
    worker.addOperation([&] {
        postedOn = QThread::currentThread();
        center.post(u"t"_s);
    });
    worker.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(deliveredOn.load(), postedOn);
}

TEST(NotificationCenter, StopsDeliveringWhenTheTokenOrTheOwnerGoes)
{
    NotificationCenter center;
    int calls = 0;
    {
        auto token = center.addObserver(u"n"_s, nullptr, [&](const Notification&) { ++calls; });
        center.post(u"n"_s);
        ObserverToken moved = std::move(token);
        center.post(u"n"_s);
    }
    center.post(u"n"_s);
    EXPECT_EQ(calls, 2);

    auto* owner = new QObject;
    int ownerCalls = 0;
    center.addObserver(owner, u"n"_s, nullptr, [&](const Notification&) { ++ownerCalls; });
    center.post(u"n"_s);
    delete owner;
    center.post(u"n"_s);
    EXPECT_EQ(ownerCalls, 1);
}

TEST(NotificationCenter, AnObserverRemovedDuringAPostIsNotCalledAfterwards)
{
    NotificationCenter center;
    ObserverToken second;
    int firstCalls = 0, secondCalls = 0;
    auto first = center.addObserver(u"n"_s, nullptr, [&](const Notification&) {
        ++firstCalls;
        second.reset();
    });
    second = center.addObserver(u"n"_s, nullptr, [&](const Notification&) { ++secondCalls; });
    center.post(u"n"_s);
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 0);
}

TEST(NotificationCenter, AnObserverMayAddAnotherWhileBeingNotified)
{
    NotificationCenter center;
    std::vector<ObserverToken> tokens;
    int added = 0;
    tokens.push_back(center.addObserver(u"n"_s, nullptr, [&](const Notification&) {
        tokens.push_back(
            center.addObserver(u"n"_s, nullptr, [&](const Notification&) { ++added; }));
    }));
    center.post(u"n"_s);
    EXPECT_EQ(added, 0); // joins from the next post on
    center.post(u"n"_s);
    EXPECT_EQ(added, 1);
}

TEST(NotificationCenter, TheDefaultCentreIsOneObject)
{
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}
