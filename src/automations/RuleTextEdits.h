#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>

#include "foundation/Published.h"
#include "foundation/RunLoop.h"
#include "foundation/UUID.h"
#include "foundation/WeakRef.h"
#include "triggers/TriggerRule.h"
#include "ui/View.h"

namespace orvel {

class TriggerEngine;

// Text typed into a rule's fields. Writing the rule at every keystroke would save the rule list
// and re-synchronise the sources each time, so a field shows what is typed at once and writes it
// through `writeRule` half a second after the last keystroke, or at once on Return, when the
// field loses the focus, when it goes away (its editor, sub-tab or window) and when the program
// quits. An edit pending for a rule deleted meanwhile is dropped. Owned by the page that shows
// the fields, which observes it. Main thread only.
class RuleTextEdits final : public ObservableObject, public WeakReferenceable {
  public:
    static constexpr double kDelay = 0.5;

    using Read = std::function<std::string(const TriggerRule&)>;
    using Write = std::function<void(TriggerRule&, const std::string&)>;

    explicit RuleTextEdits(TriggerEngine& engine);
    // Writes what is pending.
    ~RuleTextEdits() override;
    RuleTextEdits(const RuleTextEdits&) = delete;
    RuleTextEdits& operator=(const RuleTextEdits&) = delete;

    // The text field for one text of one rule, named `field` among that rule's fields: `read`
    // takes the text from the stored rule, `write` puts it into the rule read again at writing.
    ui::View field(const std::string& placeholderKey, const TriggerRule& rule,
                   const std::string& field, Read read, Write write);
    // The labelled "Name" row of a rule editor, 180 points wide.
    ui::View nameRow(const TriggerRule& rule);
    // What the field shows: the pending text, else the text of `rule`.
    ui::Binding<std::string> binding(const TriggerRule& rule, const std::string& field, Read read,
                                     Write write);

    // Writes the pending text of one field now.
    void flush(const UUID& rule, const std::string& field);
    // Writes every pending text now.
    void flushAll();
    bool hasPending() const { return !pending_.empty(); }

  private:
    using Key = std::pair<UUID, std::string>;
    struct Pending {
        std::string text;
        Write write;
        Timer timer;
    };

    void typed(const Key& key, std::string text, Write write);
    void writePending(Pending pending, const UUID& rule);

    TriggerEngine& engine_;
    std::map<Key, Pending> pending_;
    Subscription quitting_;
};

}  // namespace orvel
