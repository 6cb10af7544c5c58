#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/WeakRef.h"
#include "platform/DiskSpinKeeper.h"
#include "platform/PowerAssertions.h"
#include "platform/linux/DBusConnection.h"
#include "platform/linux/Inhibitor.h"

namespace orvel {

// Power assertions as the inhibitors Linux offers, each held for as long as its assertion:
//   PreventUserIdleDisplaySleep  the screen saver's Inhibit (session bus) and GNOME's session
//                                manager with the idle flag, where each exists (one is
//                                needed); plus a logind "idle" block where logind runs, which
//                                alone is enough on a desktop that offers neither of the
//                                others (shortfall() then says so)
//   PreventUserIdleSystemSleep   a logind "idle" block and GNOME's session manager with the
//                                suspend and idle flags, where each exists (one is needed)
//   PreventSystemSleep           a logind "sleep" block (needed)
//   PreventDiskIdle              the disk keeper's reads, where one is given: Linux has no
//                                inhibitor for disk spin-down. Always accepted and recorded,
//                                so status() lists it.
//
// Requests are asynchronous. createWithName() succeeds only when a service it needs is known
// to be on the bus, sends the requests and returns; when a request is refused later, one line
// is logged and assertionRefused is sent once nothing that keeps the machine awake is left. A
// reply that comes after its assertion was released is dropped at once (the descriptor closed,
// the cookie handed back). Releasing, destroying the backend or the death of the process ends
// every inhibitor; cookies still on their way at destruction are dropped by their service when
// the process leaves the bus.
//
// Each service's name is followed: when its owner leaves the bus, what it held or was asked for
// is dropped without a hand-back (one log line), and the service counts as stopped; when the
// name has an owner again (also straight after another owner), every live assertion asks it for
// its locks again, those of assertions created meanwhile included. An assertion whose services
// all stopped holds nothing and is left out of ownStatus() until then; it is not refused, and
// one created while the only service for it is stopped succeeds and waits for it alike.
//
// status() adds to ownStatus() the blocking logind locks of other processes: "sleep" counts as
// PreventSystemSleep and "idle" as PreventUserIdleSystemSleep (one "sleep:idle" lock as both);
// delay locks and the other kinds keep nothing awake. logind is asked (ListInhibitors) when it
// appears and again whenever it announces a change of BlockInhibited; status() answers from the
// latest listing without waiting, and nothing until the first has come or when logind would
// not list. This process's own locks are left out of the listing by pid and counted from its
// own records, so each is counted once however old the listing. Other programs' display
// inhibitors are not seen: the screen saver's Inhibit keeps no list anyone can read (nor is
// GNOME's session manager asked), so PreventUserIdleDisplaySleep counts Orvel's own alone.
// Without logind, status() is ownStatus().
class LinuxPowerAssertions final : public PowerAssertions, public WeakReferenceable {
  public:
    // Either bus may be missing (null): what needs it is then unavailable. Without a disk
    // keeper, PreventDiskIdle holds nothing.
    LinuxPowerAssertions(std::shared_ptr<DBusConnection> systemBus,
                         std::shared_ptr<DBusConnection> sessionBus,
                         std::unique_ptr<DiskSpinKeeper> disks = nullptr);
    ~LinuxPowerAssertions() override;

    AssertionCreation createWithName(std::string_view type, std::uint32_t level,
                                     std::string_view name) override;
    IOReturn release(AssertionID id) override;
    IOReturn declareUserActivity(std::string_view name, int userType, AssertionID& id) override;
    std::optional<std::map<std::string, std::int64_t>> status() override;
    std::map<std::string, std::int64_t> ownStatus() const override;
    std::vector<std::string> stoppedServices(std::string_view type) const override;
    std::optional<std::string> shortfall(std::string_view type) const override;
    std::vector<std::string> unkeptDisks() const override;

    // Requests sent whose reply has not come yet, released assertions' included.
    std::size_t pendingReplies() const;

    struct Hold;
    struct Assertion;

  private:
    void request(Assertion& assertion, Hold& hold);
    void answered(Assertion& assertion, Hold& hold, sd_bus_message* reply);
    void dropIfDone(Assertion& assertion);
    void reportIfEmpty(Assertion& assertion, IOReturn code);
    bool present(int service) const;
    // Whether this desktop offers none of the services that hold `type` fully (each is known to
    // be absent and never ran), only a lesser one.
    bool onlyFallbackOffered(std::string_view type) const;
    BusNameState stateOf(int service) const;
    void followLogind();
    void ownerChanged(int service);
    void listInhibitors();
    void listed(sd_bus_message* reply);

    std::shared_ptr<DBusConnection> system_;
    std::shared_ptr<DBusConnection> session_;
    std::unique_ptr<DiskSpinKeeper> disks_;
    // By the service's index: its name, the owner last seen, whether it stopped since it ran.
    std::vector<std::shared_ptr<BusName>> services_;
    std::vector<std::string> owners_;
    std::vector<bool> stopped_;
    std::vector<Subscription> ownerWatches_;
    std::map<AssertionID, std::unique_ptr<Assertion>> live_;
    std::vector<std::unique_ptr<Assertion>> draining_;  // released, awaiting replies
    AssertionID nextID_ = 1;
    std::uint32_t pid_;
    Subscription logindPresence_;
    DBusSlot inhibitorChanges_;  // logind's PropertiesChanged
    DBusSlot listing_;
    bool relist_ = false;  // a change came while a listing was on its way
    // Other processes' blocking locks per type, from the latest listing.
    std::optional<std::map<std::string, std::int64_t>> others_;
    Logger log_{"power"};
};

}  // namespace orvel
