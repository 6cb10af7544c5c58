#include "automations/RuleTextEdits.h"

#include "automations/RuleWrite.h"
#include "triggers/TriggerEngine.h"
#include "ui/Host.h"

namespace orvel {

RuleTextEdits::RuleTextEdits(TriggerEngine& engine) : engine_(engine) {
    if (ui::UiHost::isInstalled()) {
        quitting_ = ui::UiHost::current().willTerminate.subscribe([this] { flushAll(); });
    }
}

RuleTextEdits::~RuleTextEdits() {
    flushAll();
}

ui::Binding<std::string> RuleTextEdits::binding(const TriggerRule& rule, const std::string& field,
                                                Read read, Write write) {
    const Key key{rule.id, field};
    auto self = weakRef(*this);
    return ui::Binding<std::string>{[self, key, read, drawn = rule] {
                                        RuleTextEdits* edits = self.get();
                                        if (!edits) {
                                            return read(drawn);
                                        }
                                        if (auto it = edits->pending_.find(key);
                                            it != edits->pending_.end()) {
                                            return it->second.text;
                                        }
                                        for (const TriggerRule& stored : edits->engine_.rules()) {
                                            if (stored.id == key.first) {
                                                return read(stored);
                                            }
                                        }
                                        return read(drawn);
                                    },
                                    [self, key, write](const std::string& text) {
                                        if (RuleTextEdits* edits = self.get()) {
                                            edits->typed(key, text, write);
                                        }
                                    }};
}

ui::View RuleTextEdits::field(const std::string& placeholderKey, const TriggerRule& rule,
                              const std::string& field, Read read, Write write) {
    auto self = weakRef(*this);
    auto flushThis = [self, id = rule.id, field] {
        if (RuleTextEdits* edits = self.get()) {
            edits->flush(id, field);
        }
    };
    return ui::TextField(placeholderKey, binding(rule, field, std::move(read), std::move(write)),
                         flushThis)
        .onFocusLost(flushThis)
        .onDisappear(flushThis);
}

ui::View RuleTextEdits::nameRow(const TriggerRule& rule) {
    return ui::LabeledContent("Name",
                              field(
                                  "", rule, "name", [](const TriggerRule& r) { return r.name; },
                                  [](TriggerRule& r, const std::string& text) { r.name = text; })
                                  .accessibilityLabel("Name")
                                  .frame(180));
}

void RuleTextEdits::typed(const Key& key, std::string text, Write write) {
    objectWillChange.send();
    Pending& pending = pending_[key];
    pending.text = std::move(text);
    pending.write = std::move(write);
    auto self = weakRef(*this);
    pending.timer = RunLoop::main().after(kDelay, [self, key] {
        if (RuleTextEdits* edits = self.get()) {
            edits->flush(key.first, key.second);
        }
    });
}

void RuleTextEdits::flush(const UUID& rule, const std::string& field) {
    auto it = pending_.find(Key{rule, field});
    if (it == pending_.end()) {
        return;
    }
    Pending pending = std::move(it->second);
    pending_.erase(it);
    writePending(std::move(pending), rule);
}

void RuleTextEdits::flushAll() {
    auto all = std::exchange(pending_, {});
    for (auto& [key, pending] : all) {
        writePending(std::move(pending), key.first);
    }
}

void RuleTextEdits::writePending(Pending pending, const UUID& rule) {
    pending.timer.cancel();
    writeRule(engine_, rule, [&](TriggerRule& stored) { pending.write(stored, pending.text); });
}

}  // namespace orvel
