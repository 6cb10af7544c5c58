#include "automations/RuleWrite.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "automations/RuleTextEdits.h"
#include "support/UiTest.h"
#include "triggers/TriggerEngine.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel {
namespace {

using ui::Inspector;
using ui::View;

// A page with one rule's name field, which the test can take away.
class NamePage final : public ui::ViewComponent {
  public:
    NamePage(TriggerEngine& engine, UUID id) : edits(engine), engine_(engine), id_(id) {}

    Published<bool> showField{*this, true};
    RuleTextEdits edits;

    View body() override {
        std::vector<View> rows;
        for (const TriggerRule& rule : engine_.rules()) {
            if (rule.id == id_ && showField()) {
                rows.push_back(edits.field(
                    "Name", rule, "name", [](const TriggerRule& r) { return r.name; },
                    [](TriggerRule& r, const std::string& text) { r.name = text; }));
            }
        }
        return ui::VStack(std::move(rows));
    }
    std::vector<ObservableObject*> observedObjects() override { return {&engine_, &edits}; }

  private:
    TriggerEngine& engine_;
    UUID id_;
};

class RuleWriteTest : public test::UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        TriggerRule first;
        first.name = "Desk";
        first.durationSeconds = 3600;
        engine().add(first);
        id = first.id;
        counting = engine().rules.subscribe([this](const auto&) { ++updates; });
    }
    TriggerEngine& engine() { return services().triggerEngine(); }
    const TriggerRule& stored() { return engine().rules().front(); }
    // The page, shown, with a few keys typed and nothing written yet.
    std::unique_ptr<ui::ViewHost> showTyped(std::shared_ptr<NamePage>& page,
                                            const std::string& typed) {
        page = std::make_shared<NamePage>(engine(), id);
        auto host = std::make_unique<ui::ViewHost>(page);
        host->setShown(true);
        host->evaluate();
        EXPECT_TRUE(Inspector(*host).type("Name", typed));
        loop().drain();
        EXPECT_EQ(updates, 0) << "nothing is written while typing";
        return host;
    }

    UUID id;
    int updates = 0;
    Subscription counting;
};

TEST_F(RuleWriteTest, WritesOnlyItsFieldIntoTheStoredRuleNotIntoAStaleCopy) {
    const TriggerRule drawn = stored();
    writeRule(engine(), id, [](TriggerRule& r) { r.acOnly = true; });
    const auto written = writeRule(engine(), drawn.id, [](TriggerRule& r) { r.name = "Home"; });
    ASSERT_TRUE(written);
    EXPECT_EQ(stored().name, "Home");
    EXPECT_TRUE(stored().acOnly) << "the earlier write survives the later one";
    EXPECT_EQ(stored().durationSeconds, 3600);
    EXPECT_EQ(updates, 2);
}

TEST_F(RuleWriteTest, WritesNothingForARuleThatIsGone) {
    const auto rulesBefore = engine().rules();
    const auto written = writeRule(engine(), UUID::random(), [](TriggerRule& r) { r.name = "X"; });
    EXPECT_FALSE(written);
    EXPECT_EQ(updates, 0);
    EXPECT_EQ(engine().rules(), rulesBefore);
}

TEST_F(RuleWriteTest, TypedTextShowsAtOnceAndIsWrittenOnceHalfASecondAfterTheLastKey) {
    std::shared_ptr<NamePage> page;
    auto host = showTyped(page, " office and the long hallway");  // 28 keys
    host->evaluate();
    auto field = Inspector(*host).control("Name");
    ASSERT_TRUE(field);
    EXPECT_EQ(field->node->textBinding.get(), "Desk office and the long hallway");
    loop().advance(0.49);
    EXPECT_EQ(updates, 0);
    loop().advance(0.02);
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(stored().name, "Desk office and the long hallway");
    EXPECT_FALSE(page->edits.hasPending());
}

TEST_F(RuleWriteTest, PendingTextIsWrittenAtOnceWhenTheFieldIsLeftInAnyWay) {
    struct Case {
        const char* how;
        std::function<void(ui::ViewHost&, NamePage&)> leave;
    };
    const Case cases[] = {
        {"Return", [](ui::ViewHost& h, NamePage&) { Inspector(h).submit("Name"); }},
        {"focus lost", [](ui::ViewHost& h, NamePage&) { Inspector(h).leaveField("Name"); }},
        {"field gone",
         [](ui::ViewHost& h, NamePage& p) {
             p.showField = false;
             h.evaluate();
         }},
        {"window closed", [](ui::ViewHost& h, NamePage&) { h.setShown(false); }},
        {"quit", [](ui::ViewHost&, NamePage&) { ui::UiHost::current().willTerminate.send(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        writeRule(engine(), id, [](TriggerRule& r) { r.name = "Desk"; });
        updates = 0;
        std::shared_ptr<NamePage> page;
        auto host = showTyped(page, "s");
        c.leave(*host, *page);
        EXPECT_EQ(updates, 1);
        EXPECT_EQ(stored().name, "Desks");
        loop().advance(1);
        EXPECT_EQ(updates, 1) << "the timer was cancelled";
    }
}

TEST_F(RuleWriteTest, PendingTextForADeletedRuleIsDropped) {
    std::shared_ptr<NamePage> page;
    auto host = showTyped(page, "s");
    engine().deleteRule(id);
    updates = 0;
    loop().advance(1);
    host.reset();
    EXPECT_EQ(updates, 0);
    EXPECT_TRUE(engine().rules().empty());
}

}  // namespace
}  // namespace orvel
