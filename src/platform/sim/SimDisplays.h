#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "foundation/WeakRef.h"
#include "platform/Backlight.h"
#include "platform/Displays.h"

namespace orvel {

// Simulated displays and their backlights. The machine starts with its built-in panel online
// (display 1, the main display, at 0.75). Tests plug monitors in, close the lid, make a level
// unreadable, make a display accept writes without applying them, move a level from outside
// and refuse the next write; every level written is recorded with its display.
class SimDisplays final : public Displays, public Backlight, public WeakReferenceable {
  public:
    static constexpr std::uint32_t kBuiltInID = 1;

    struct Write {
        std::uint32_t display = 0;
        double level = 0;
    };

    SimDisplays();

    std::vector<DisplayDescription> onlineDisplays() override;
    std::optional<double> level(std::uint32_t display) override;
    bool setLevel(std::uint32_t display, double level) override;
    CompositorSleep compositorSleep() override { return compositorSleep_; }
    void sleepAll(DisplaySleepDone done) override;

    // Control surface for tests.
    // The compositor's way of sleeping every display (none at first).
    void setCompositorSleep(CompositorSleep way) { compositorSleep_ = way; }
    int sleepAllCount() const { return sleepAllCount_; }
    // What the compositor answers the next requests to sleep, on the loop's next turn (all
    // slept at first).
    void setSleepOutcome(DisplaySleepOutcome outcome) { sleepOutcome_ = std::move(outcome); }
    // Adds a display that is online at once; a main display takes the role from any other.
    void addDisplay(DisplayDescription display, std::optional<double> level);
    void removeDisplay(std::uint32_t display);
    // The built-in panel goes offline (a closed lid) or comes back.
    void setOnline(std::uint32_t display, bool online);
    void setReadable(std::uint32_t display, bool readable);
    // Writes are accepted but the level does not move.
    void setAppliesWrites(std::uint32_t display, bool applies);
    // The user's keys or the system move the level.
    void changeLevelFromOutside(std::uint32_t display, double level);
    // The next accepted write is refused when its reply comes, on the next turn of the loop;
    // until then the display reads the level asked for.
    void refuseNextWrite(std::uint32_t display);
    std::optional<double> trueLevel(std::uint32_t display) const;
    const std::vector<Write>& writes() const { return writes_; }
    std::vector<double> writesTo(std::uint32_t display) const;
    void clearWrites() { writes_.clear(); }

  private:
    CompositorSleep compositorSleep_ = CompositorSleep::none;
    int sleepAllCount_ = 0;
    DisplaySleepOutcome sleepOutcome_;
    struct Panel {
        DisplayDescription description;
        std::optional<double> level;  // none: no backlight
        bool online = true;
        bool readable = true;
        bool appliesWrites = true;
        bool refuseNext = false;
        std::optional<double> inFlight;  // a write that will be refused, read until then
    };
    Panel* find(std::uint32_t display);
    const Panel* find(std::uint32_t display) const;

    std::vector<Panel> panels_;
    std::vector<Write> writes_;
};

}  // namespace orvel
