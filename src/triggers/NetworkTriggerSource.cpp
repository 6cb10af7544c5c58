#include "triggers/NetworkTriggerSource.h"

#include "foundation/Numbers.h"
#include "foundation/TextCompare.h"
#include "platform/Network.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

namespace {

// The non-empty pieces of `text` between separators.
std::vector<std::string_view> pieces(std::string_view text, char separator) {
    std::vector<std::string_view> found;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (end > start) {
            found.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return found;
}

// Decimal digits, all of them, with nothing else; nothing on overflow.
template <class T>
std::optional<T> decimal(std::string_view digits) {
    if (digits.empty() || digits.front() < '0' || digits.front() > '9') {
        return std::nullopt;
    }
    return parseNumber<T>(digits);
}

}  // namespace

NetworkTriggerSource::NetworkTriggerSource(Network& network, std::function<TriggerEngine&()> engine)
    : network_(network), engine_(std::move(engine)) {}

void NetworkTriggerSource::start(std::vector<TriggerRule> rules) {
    rules_ = std::move(rules);
    if (running_) {
        evaluate();
        return;
    }
    running_ = true;
    monitor_ = network_.pathChanged.subscribe([this] { pathUpdated(); });
    for (const auto& rule : rules_) {
        if (rule.matcher) {
            lastState_[rule.id] = matches(*rule.matcher);
        }
    }
}

void NetworkTriggerSource::stop() {
    monitor_.cancel();
    running_ = false;
    rules_.clear();
    lastState_.clear();
}

void NetworkTriggerSource::pathUpdated() {
    std::erase_if(pending_, [](const Timer& timer) { return !timer.isValid(); });
    // The timers are members, so `this` outlives them; a stop leaves them to find no rules.
    pending_.push_back(RunLoop::main().after(kEvaluationDelay, [this] { evaluate(); }));
}

void NetworkTriggerSource::evaluate() {
    const std::vector<TriggerRule> walk = rules_;  // a reported edge may hand over new rules
    for (const auto& rule : walk) {
        if (!rule.matcher) {
            continue;
        }
        const bool matched = matches(*rule.matcher);
        const auto previous = lastState_.find(rule.id);
        const bool flipped = previous != lastState_.end() && previous->second != matched;
        lastState_[rule.id] = matched;
        if (flipped) {
            engine_().handle(rule.id, matched, false);
        }
    }
}

bool NetworkTriggerSource::matches(const NetworkMatcher& matcher) const {
    using Kind = NetworkMatcher::Kind;
    switch (matcher.kind) {
        case Kind::ssid: {
            const auto ssid = currentSSID();
            return ssid && equalIgnoringCase(*ssid, matcher.value);
        }
        case Kind::ipv4Range:
            for (const auto& address : ipv4Addresses()) {
                if (cidrContains(address, matcher.value)) {
                    return true;
                }
            }
            return false;
        case Kind::gateway: {
            const auto router = routerAddress();
            return router && *router == matcher.value;
        }
        case Kind::searchDomain:
            for (const auto& domain : searchDomains()) {
                if (equalIgnoringCase(domain, matcher.value)) {
                    return true;
                }
            }
            return false;
        case Kind::interfaceType: {
            if (!monitor_.isActive()) {
                return false;
            }
            const bool ethernet = equalIgnoringCase(matcher.value, "ethernet");
            const NetworkPath path = network_.currentPath();
            return path.satisfied && path.uses(ethernet ? NetworkInterfaceType::wiredEthernet
                                                        : NetworkInterfaceType::wifi);
        }
        case Kind::vpnConnected:
            return isVPNActive();
    }
    return false;
}

void NetworkTriggerSource::requestLocationAuthorization() {
    if (network_.locationAuthorization() != LocationAuthorization::notDetermined) {
        return;  // decided once, never asked again
    }
    location_ = network_.locationAuthorizationChanged.subscribe([this] {
        RunLoop::main().async([self = weakRef(*this)] {
            if (auto* source = self.get()) {
                source->evaluate();
            }
        });
    });
    network_.requestLocationAuthorization();
}

std::optional<std::string> NetworkTriggerSource::currentSSID() const {
    if (network_.locationAuthorization() != LocationAuthorization::authorizedAlways) {
        return std::nullopt;
    }
    return network_.currentSSID();
}

std::vector<std::string> NetworkTriggerSource::ipv4Addresses() const {
    std::vector<std::string> addresses;
    for (const auto& entry :
         network_.interfaceAddresses().value_or(std::vector<InterfaceAddress>{})) {
        // A link that is down keeps its static addresses; they say nothing about where the
        // machine is.
        if (entry.ipv4 && !entry.loopback && entry.up && entry.running) {
            addresses.push_back(entry.address);
        }
    }
    return addresses;
}

std::optional<std::string> NetworkTriggerSource::routerAddress() const {
    return network_.routerAddress();
}

std::vector<std::string> NetworkTriggerSource::searchDomains() const {
    return network_.searchDomains();
}

bool NetworkTriggerSource::isVPNActive() const {
    const auto entries = network_.interfaceAddresses();
    if (!entries) {
        return false;
    }
    for (const auto& entry : *entries) {
        if (entry.up && entry.ipv4 && network_.isVPNInterface(entry.interface)) {
            return true;
        }
    }
    return false;
}

std::optional<std::uint32_t> NetworkTriggerSource::parseIPv4(std::string_view text) {
    const auto parts = pieces(text, '.');
    if (parts.size() != 4) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (std::string_view part : parts) {
        if (part.front() == '+') {
            part.remove_prefix(1);
        }
        // A piece that is not a number fails the whole text.
        const auto number = decimal<std::uint32_t>(part);
        if (!number || *number > 255) {
            return std::nullopt;
        }
        value = value << 8 | *number;
    }
    return value;
}

bool NetworkTriggerSource::cidrContains(std::string_view address, std::string_view range) {
    const auto parts = pieces(range, '/');
    if (parts.size() != 2) {
        return false;
    }
    std::string_view prefixText = parts[1];
    bool negative = false;
    if (prefixText.front() == '+' || prefixText.front() == '-') {
        negative = prefixText.front() == '-';
        prefixText.remove_prefix(1);
    }
    const auto magnitude = decimal<std::uint64_t>(prefixText);
    if (!magnitude || *magnitude > 32 || (negative && *magnitude != 0)) {
        return false;
    }
    const auto prefix = static_cast<unsigned>(*magnitude);
    const auto network = parseIPv4(parts[0]);
    const auto value = parseIPv4(address);
    if (!network || !value) {
        return false;
    }
    // Shifting a 32-bit value by 32 is undefined: a zero prefix contains everything.
    if (prefix == 0) {
        return true;
    }
    return ((*value ^ *network) >> (32 - prefix)) == 0;
}

}  // namespace orvel
