#pragma once

#include <functional>
#include <string>
#include <vector>

#include "foundation/Signal.h"

namespace orvel::test {

// Records the order in which effects become visible from outside. Each effect is a name and a
// check of what can be seen (the host's or the simulated machine's records, a service's state).
// At every checkpoint (a followed signal, or mark()) the journal first writes one line with the
// effects that came true since the previous checkpoint, joined by " + " when no checkpoint came
// between them, then the followed signal's own line.
class EffectJournal {
  public:
    struct Effect {
        std::string name;
        std::function<bool()> seen;
    };

    // Effects already visible now are not written.
    explicit EffectJournal(std::vector<Effect> effects);
    // Handlers hold the journal's address.
    EffectJournal(const EffectJournal&) = delete;
    EffectJournal& operator=(const EffectJournal&) = delete;

    // Writes `line` whenever `source` (a Signal or a Published value) sends.
    template <class Source>
    void follow(Source& source, std::string line) {
        subscriptions_.push_back(
            source.subscribe([this, line](const auto&...) { checkpoint(line); }));
    }
    // Writes the text that `source` sends.
    void followText(Signal<std::string>& source) {
        subscriptions_.push_back(
            source.subscribe([this](const std::string& text) { checkpoint(text); }));
    }
    void mark() { checkpoint(""); }
    std::vector<std::string> take();

  private:
    void checkpoint(const std::string& line);

    std::vector<Effect> effects_;
    std::vector<bool> seen_;
    std::vector<std::string> lines_;
    SubscriptionBag subscriptions_;
};

}  // namespace orvel::test
