#include "support/EffectJournal.h"

#include <utility>

namespace orvel::test {

EffectJournal::EffectJournal(std::vector<Effect> effects) : effects_(std::move(effects)) {
    for (const Effect& effect : effects_) {
        seen_.push_back(effect.seen());
    }
}

void EffectJournal::checkpoint(const std::string& line) {
    std::string arrived;
    for (std::size_t i = 0; i < effects_.size(); ++i) {
        const bool seen = effects_[i].seen();
        if (seen && !seen_[i]) {
            arrived += (arrived.empty() ? "" : " + ") + effects_[i].name;
        }
        seen_[i] = seen;
    }
    if (!arrived.empty()) {
        lines_.push_back(arrived);
    }
    if (!line.empty()) {
        lines_.push_back(line);
    }
}

std::vector<std::string> EffectJournal::take() {
    return std::exchange(lines_, {});
}

}  // namespace orvel::test
