#pragma once

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/DiskSpinKeeper.h"
#include "platform/PowerAssertions.h"

namespace orvel {

// Simulated power management: keeps the assertions held and a history of every effect. With a
// disk keeper, PreventDiskIdle keeps the simulated disks spinning as on Linux, from its creation
// until its release or refusal.
class SimPowerAssertions final : public PowerAssertions {
  public:
    SimPowerAssertions() = default;
    explicit SimPowerAssertions(std::unique_ptr<DiskSpinKeeper> disks);

    struct Held {
        AssertionID id;
        std::string type;
        std::uint32_t level;
        std::string name;
    };
    enum class EventKind { Created, Released, DeclaredUserActivity, Refused };
    struct Event {
        EventKind kind;
        std::string type;  // Created only
        AssertionID id;
        std::string name;                  // Created and DeclaredUserActivity
        IOReturn code = kIOReturnSuccess;  // Refused only
    };

    AssertionCreation createWithName(std::string_view type, std::uint32_t level,
                                     std::string_view name) override;
    IOReturn release(AssertionID id) override;
    IOReturn declareUserActivity(std::string_view name, int userType, AssertionID& id) override;
    std::optional<std::map<std::string, std::int64_t>> status() override;
    std::map<std::string, std::int64_t> ownStatus() const override;
    std::vector<std::string> stoppedServices(std::string_view type) const override;
    std::optional<std::string> shortfall(std::string_view type) const override;
    std::vector<std::string> unkeptDisks() const override;

    // Control surface for tests.
    const std::vector<Held>& held() const { return held_; }
    std::vector<std::string> heldTypes() const;
    const std::vector<Event>& history() const { return history_; }
    std::vector<Event> events(EventKind kind) const;
    int userActivityDeclarations() const;
    void clearHistory() { history_.clear(); }
    // The nth creation from now on (1 = the next one) fails with `code`.
    void refuseCreation(int nth, IOReturn code);
    // Every creation fails with `code` until allowAll().
    void refuseAll(IOReturn code);
    void allowAll();
    // The system takes back a held assertion: it stops counting as held (its release still
    // succeeds) and assertionRefused is sent. False when no assertion has this id.
    bool refuseHeld(AssertionID id, IOReturn code);
    // status() fails (nothing readable) while set.
    void setStatusUnreadable(bool unreadable) { statusUnreadable_ = unreadable; }
    // Other programs' holders per type, which status() counts beside this process's own.
    void setOtherHolders(std::map<std::string, std::int64_t> holders) {
        otherHolders_ = std::move(holders);
    }
    // The service `name`, which keeps `types` awake, stops: assertions of those types hold
    // nothing (held() leaves them out; they stay created) until it starts again. Both send
    // servicesChanged.
    void stopService(std::string name, std::vector<std::string> types);
    void startService(const std::string& name);
    // What this desktop cannot hold of `type` (nothing: all of it); sends shortfallChanged.
    void setShortfall(const std::string& type, std::optional<std::string> words);

  private:
    void releaseDisks(AssertionID id);

    std::unique_ptr<DiskSpinKeeper> disks_;
    std::set<AssertionID> diskHolds_;
    std::vector<Held> held_;
    std::vector<AssertionID> refused_;  // refused by the system, not yet released by the owner
    std::vector<Held> lost_;            // created, waiting for a stopped service
    std::map<std::string, std::vector<std::string>> stopped_;
    std::map<std::string, std::string, std::less<>> shortfalls_;  // service: the types it keeps
    std::vector<Event> history_;
    std::deque<std::pair<int, IOReturn>> refusals_;  // countdowns
    std::optional<IOReturn> refuseAll_;
    bool statusUnreadable_ = false;
    std::map<std::string, std::int64_t> otherHolders_;
    AssertionID nextID_ = 0x1001;
};

}  // namespace orvel
