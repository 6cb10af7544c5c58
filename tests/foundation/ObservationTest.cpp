#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/Published.h"
#include "foundation/WeakRef.h"

namespace orvel {
namespace {

class Model : public ObservableObject {
  public:
    Published<int> count{*this, 0};
    Published<std::string> name{*this, "start"};
};

TEST(ObservationTest, EveryAssignmentNotifiesEvenWithTheSameValue) {
    Model model;
    std::vector<int> seen;
    int willChange = 0;
    Subscription a = model.count.subscribe([&](const int& v) { seen.push_back(v); });
    Subscription b = model.objectWillChange.subscribe([&] { ++willChange; });

    model.count = 1;
    model.count = 1;
    model.name = "start";
    EXPECT_EQ(seen, (std::vector<int>{1, 1}));
    EXPECT_EQ(willChange, 3);
}

TEST(ObservationTest, WillChangeComesBeforeTheNewValueIsStored) {
    Model model;
    int valueDuringWillChange = -1;
    Subscription s =
        model.objectWillChange.subscribe([&] { valueDuringWillChange = model.count(); });
    model.count = 7;
    EXPECT_EQ(valueDuringWillChange, 0);
    EXPECT_EQ(model.count(), 7);
}

TEST(ObservationTest, CancelledSubscriptionsStopAtOnceEvenDuringASend) {
    Model model;
    std::vector<std::string> calls;
    Subscription second;
    Subscription first = model.count.subscribe([&](const int&) {
        calls.push_back("first");
        second.cancel();
    });
    second = model.count.subscribe([&](const int&) { calls.push_back("second"); });

    model.count = 1;
    EXPECT_EQ(calls, (std::vector<std::string>{"first"}));
    first.cancel();
    model.count = 2;
    EXPECT_EQ(calls.size(), 1u);
}

TEST(ObservationTest, AHandlerMayCancelItselfAndSubscriptionsMayOutliveTheSignal) {
    Subscription survivor;
    int calls = 0;
    {
        Model model;
        Subscription self;
        self = model.count.subscribe([&](const int&) {
            ++calls;
            self.cancel();
        });
        survivor = model.name.subscribe([](const std::string&) {});
        model.count = 1;
        model.count = 2;
    }
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(survivor.isActive());
    survivor.cancel();  // the signal is gone; this must be harmless
}

TEST(ObservationTest, HandlersAddedDuringASendStartWithTheNextOne) {
    Model model;
    std::vector<Subscription> added;
    int lateCalls = 0;
    Subscription adder = model.count.subscribe([&](const int&) {
        added.push_back(model.count.subscribe([&](const int&) { ++lateCalls; }));
    });
    model.count = 1;
    EXPECT_EQ(lateCalls, 0);
    model.count = 2;
    EXPECT_EQ(lateCalls, 1);
}

TEST(ObservationTest, TheOwnerHearsOfEachSubscriptionAndCancellationUntilTheSignalGoes) {
    std::vector<std::size_t> counts;
    Subscription outlives;
    {
        Signal<int> signal;
        signal.setSubscribersChanged([&] { counts.push_back(signal.subscriberCount()); });
        Subscription first = signal.subscribe([](const int&) {});
        {
            Subscription second = signal.subscribe([](const int&) {});
        }
        Subscription self;
        self = signal.subscribe([&](const int&) { self.cancel(); });
        signal.send(1);
        EXPECT_EQ(counts, (std::vector<std::size_t>{1, 2, 1, 2, 1}));
        outlives = std::move(first);
    }
    outlives.cancel();  // the signal and its owner's hook are gone
    EXPECT_EQ(counts.size(), 5U);
}

TEST(WeakRefTest, AReferenceFindsItsObjectUntilItGoesOrDropsItsReferences) {
    struct Owner : WeakReferenceable {
        int value = 7;
    };
    WeakRef<Owner> gone;
    {
        Owner owner;
        gone = weakRef(owner);
        ASSERT_TRUE(gone);
        EXPECT_EQ(gone.get()->value, 7);
    }
    EXPECT_FALSE(gone) << "the object was destroyed";

    Owner retired;
    WeakRef<Owner> before = weakRef(retired);
    retired.dropWeakReferences();
    EXPECT_FALSE(before) << "references made before the drop";
    EXPECT_TRUE(weakRef(retired)) << "a reference made after it finds the object";
}

}  // namespace
}  // namespace orvel
