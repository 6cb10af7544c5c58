#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "foundation/Published.h"
#include "foundation/RawEnum.h"
#include "foundation/Result.h"
#include "foundation/WeakRef.h"

namespace orvel {

class HelperConnection;
class HelperRequest;
class HelperService;

// The application's side of the wake helper, the root service that wakes the machine for
// schedule rules: whether it is installed, installing and removing it, and handing it the wake
// dates. Nothing here waits: sends and registrations answer on later turns of the main loop.
// Main thread only.
class WakeHelperClient final : public ObservableObject, public WeakReferenceable {
  public:
    enum class State { active, requiresApproval, notInstalled, missingFromBundle };

    WakeHelperClient(HelperService& service, HelperConnection& connection);
    ~WakeHelperClient();

    Published<State> state{*this, State::notInstalled};
    // The last registration, connection or scheduling error, in the reader's words (the status
    // line keeps it in English); cleared only by install and uninstall.
    Published<std::optional<std::string>> lastError{*this, std::nullopt};
    // The wake dates the schedule source computed last, sent or not.
    std::vector<Date> lastSynced;

    // Reads the helper's registration into `state`.
    void refresh();
    // Registers the helper; once it is active the dates of `lastSynced` are sent at once.
    void install();
    // Clears the helper's wakes (when it is active) and then unregisters it.
    void uninstall();
    // Sends the whole list; a failure to reach the helper or to schedule becomes `lastError`.
    void sync(const std::vector<Date>& dates);
    void recordUnreachable(const std::string& description);

    // "wake helper: " + the state's title, the last error when there is one, and the number of
    // dates queued.
    std::string statusLine() const;

    std::size_t requestsInFlight() const { return inFlight_.size(); }

  private:
    void setLastError(const std::function<std::string()>& words);
    void clearLastError();
    void send(const std::vector<Date>& dates, std::function<void()> then);
    void received(int request, const Result<std::int32_t>& reply);
    void unregister();
    // A registration or its removal answered: its error, if any, and the state it left.
    void registrationAnswered(const Result<void>& result);

    HelperService& service_;
    HelperConnection& connection_;
    int nextRequest_ = 0;
    std::map<int, std::unique_ptr<HelperRequest>> inFlight_;
    std::map<int, std::function<void()>> continuations_;
    std::optional<std::string> lastErrorInEnglish_;
};

template <>
struct EnumTraits<WakeHelperClient::State> {
    using K = WakeHelperClient::State;
    static constexpr std::array<EnumCase<K>, 4> cases{{
        {K::active, "active", textKey("Installed & approved")},
        {K::requiresApproval, "requiresApproval", textKey("Awaiting approval")},
        {K::notInstalled, "notInstalled", textKey("Not installed")},
        {K::missingFromBundle, "missingFromBundle", textKey("Helper missing from this build")},
    }};
};

}  // namespace orvel
