#include "automations/EditorFooter.h"

#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

void EditorFooter::deleteRule() const {
    engine.deleteRule(rule.id);
}

void EditorFooter::test() const {
    // The entry names the rule as stored, not as this copy last saw it.
    for (const TriggerRule& stored : engine.rules()) {
        if (stored.id == rule.id) {
            engine.simulate(stored);
            return;
        }
    }
    engine.simulate(rule);
}

void EditorFooter::collapse() const {
    std::set<UUID> open = expanded.get();
    open.erase(rule.id);
    expanded.set(open);
}

View EditorFooter::body() const {
    const EditorFooter self = *this;
    return HStack(
               {
                   Button(
                       Text("Delete Rule").font(Font::style(TextStyle::caption)),
                       [self] { self.deleteRule(); }, ButtonRole::destructive)
                       .buttonStyle(StandardButtonStyle::borderless)
                       .foregroundStyle(Color::red()),
                   Spacer(),
                   Button("Test", [self] { self.test(); })
                       .controlSize(ControlSize::small)
                       .help("Fires this rule's action now, logged as a simulated event"),
                   Button("Collapse", [self] { self.collapse(); }).controlSize(ControlSize::small),
               })
        .padding(kEdgeTop, 2);
}

}  // namespace orvel
