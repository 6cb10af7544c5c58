#include "platform/sim/SimDisplays.h"

#include <algorithm>

#include "foundation/RunLoop.h"

namespace orvel {

SimDisplays::SimDisplays() {
    panels_.push_back(Panel{{kBuiltInID, "Built-in Display", true, true}, 0.75});
}

std::vector<DisplayDescription> SimDisplays::onlineDisplays() {
    std::vector<DisplayDescription> online;
    for (const auto& panel : panels_) {
        if (panel.online) {
            online.push_back(panel.description);
        }
    }
    return online;
}

void SimDisplays::sleepAll(DisplaySleepDone done) {
    ++sleepAllCount_;
    RunLoop::main().async([outcome = sleepOutcome_, done = std::move(done)] {
        if (done) {
            done(outcome);
        }
    });
}

std::optional<double> SimDisplays::level(std::uint32_t display) {
    const Panel* panel = find(display);
    if (panel == nullptr || !panel->online || !panel->readable) {
        return std::nullopt;
    }
    return panel->inFlight ? panel->inFlight : panel->level;
}

bool SimDisplays::setLevel(std::uint32_t display, double level) {
    Panel* panel = find(display);
    if (panel == nullptr || !panel->online || !panel->level) {
        return false;
    }
    writes_.push_back({display, level});
    if (panel->refuseNext) {
        panel->refuseNext = false;
        panel->inFlight = std::clamp(level, 0.0, 1.0);
        const auto alive = weakRef(*this);
        RunLoop::main().async([this, alive, display] {
            if (alive) {
                if (Panel* refused = find(display)) {
                    refused->inFlight.reset();
                }
                writeRefused.send(display);
            }
        });
        return true;
    }
    if (panel->appliesWrites) {
        panel->level = std::clamp(level, 0.0, 1.0);
    }
    return true;
}

void SimDisplays::addDisplay(DisplayDescription display, std::optional<double> level) {
    if (display.isMain) {
        for (auto& panel : panels_) {
            panel.description.isMain = false;
        }
    }
    panels_.push_back(Panel{std::move(display), level});
    displaysChanged.send();
}

void SimDisplays::removeDisplay(std::uint32_t display) {
    std::erase_if(panels_, [display](const Panel& p) { return p.description.id == display; });
    displaysChanged.send();
}

void SimDisplays::setOnline(std::uint32_t display, bool online) {
    if (Panel* panel = find(display)) {
        panel->online = online;
        displaysChanged.send();
    }
}

void SimDisplays::setReadable(std::uint32_t display, bool readable) {
    if (Panel* panel = find(display)) {
        panel->readable = readable;
    }
}

void SimDisplays::setAppliesWrites(std::uint32_t display, bool applies) {
    if (Panel* panel = find(display)) {
        panel->appliesWrites = applies;
    }
}

void SimDisplays::changeLevelFromOutside(std::uint32_t display, double level) {
    if (Panel* panel = find(display)) {
        panel->level = level;
    }
}

void SimDisplays::refuseNextWrite(std::uint32_t display) {
    if (Panel* panel = find(display)) {
        panel->refuseNext = true;
    }
}

std::optional<double> SimDisplays::trueLevel(std::uint32_t display) const {
    const Panel* panel = find(display);
    return panel != nullptr ? panel->level : std::nullopt;
}

std::vector<double> SimDisplays::writesTo(std::uint32_t display) const {
    std::vector<double> levels;
    for (const auto& write : writes_) {
        if (write.display == display) {
            levels.push_back(write.level);
        }
    }
    return levels;
}

SimDisplays::Panel* SimDisplays::find(std::uint32_t display) {
    auto it = std::find_if(panels_.begin(), panels_.end(),
                           [display](const Panel& p) { return p.description.id == display; });
    return it == panels_.end() ? nullptr : &*it;
}

const SimDisplays::Panel* SimDisplays::find(std::uint32_t display) const {
    return const_cast<SimDisplays*>(this)->find(display);
}

}  // namespace orvel
