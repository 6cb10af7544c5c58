#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "foundation/UUID.h"
#include "foundation/WeakRef.h"
#include "triggers/TriggerRule.h"

namespace orvel {

class Network;
class TriggerEngine;

// Turns changes of the network situation into rule events for wifiSSID and network rules.
//
// While running it follows the platform's path updates; each update evaluates every rule 1.5 s
// later against facts read afresh (updates are not coalesced: the later evaluations of a burst
// normally find nothing new) and reports the rules whose match flipped. The first start only
// records; stop forgets. Nothing is cached: every match reads its fact anew.
class NetworkTriggerSource : public WeakReferenceable {
  public:
    // The engine is reached when a rule flips, not before: it builds this source.
    NetworkTriggerSource(Network& network, std::function<TriggerEngine&()> engine);

    static constexpr double kEvaluationDelay = 1.5;

    void start(std::vector<TriggerRule> rules);
    void stop();
    // Re-reads every rule's matcher and reports the flips, in rule order.
    void evaluate();
    // Whether the matcher's condition holds now.
    bool matches(const NetworkMatcher& matcher) const;
    // Asks for Location authorisation unless it was decided before; once answered, the rules
    // are evaluated again.
    void requestLocationAuthorization();

    bool isRunning() const { return running_; }
    const std::vector<TriggerRule>& rules() const { return rules_; }
    const std::map<UUID, bool>& lastState() const { return lastState_; }

    // The network facts, each read afresh.
    std::optional<std::string> currentSSID() const;
    // The IPv4 addresses of the interfaces that are up and running, loopback left out.
    std::vector<std::string> ipv4Addresses() const;
    std::optional<std::string> routerAddress() const;
    std::vector<std::string> searchDomains() const;
    // A VPN interface is up with an IPv4 address.
    bool isVPNActive() const;

    // Four dot-separated decimal numbers up to 255 (empty pieces and a leading "+" allowed).
    static std::optional<std::uint32_t> parseIPv4(std::string_view text);
    // Whether the address lies in the range "network/prefix"; an invalid range contains nothing.
    static bool cidrContains(std::string_view address, std::string_view range);

  private:
    void pathUpdated();

    Network& network_;
    std::function<TriggerEngine&()> engine_;
    std::vector<TriggerRule> rules_;
    // Following path updates: the path monitor of the running source.
    Subscription monitor_;
    std::map<UUID, bool> lastState_;
    // Kept once asked, so that the answer arrives.
    Subscription location_;
    bool running_ = false;
    // Evaluations scheduled by path updates; a stop does not cancel them.
    std::vector<Timer> pending_;
};

}  // namespace orvel
