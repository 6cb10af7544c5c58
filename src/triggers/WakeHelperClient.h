#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "foundation/Published.h"
#include "foundation/RawEnum.h"

namespace orvel {

// The application's side of the wake helper, which wakes the machine for schedule rules.
//
// This is its first, least form: the helper is never installed, so the state stays
// "Not installed" and no dates are sent; the report's status line is already the full form's.
class WakeHelperClient final : public ObservableObject {
  public:
    enum class State { active, requiresApproval, notInstalled, missingFromBundle };

    static WakeHelperClient& shared();

    Published<State> state{*this, State::notInstalled};
    Published<std::optional<std::string>> lastError{*this, std::nullopt};
    // The wake dates the schedule source computed last, sent or not.
    std::vector<Date> lastSynced;

    // "wake helper: " + the state's title, the last error when there is one, and the number of
    // dates queued.
    std::string statusLine() const;

  private:
    WakeHelperClient() = default;
};

template <>
struct EnumTraits<WakeHelperClient::State> {
    using K = WakeHelperClient::State;
    static constexpr std::array<EnumCase<K>, 4> cases{{
        {K::active, "active", "Installed & approved"},
        {K::requiresApproval, "requiresApproval", "Awaiting approval"},
        {K::notInstalled, "notInstalled", "Not installed"},
        {K::missingFromBundle, "missingFromBundle", "Helper missing from this build"},
    }};
};

}  // namespace orvel
