#include "devices/ScreenSaverBlock.h"

#include "core/SleepEngine.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "platform/PowerAssertionWords.h"

namespace orvel {

ScreenSaverBlock::ScreenSaverBlock(PowerAssertions& assertions) : assertions_(assertions) {
    refused_ = assertions_.assertionRefused.subscribe([this](AssertionID id, IOReturn) {
        if (assertion_ == id) {
            assertions_.release(id);
            assertion_.reset();
        }
    });
}

void ScreenSaverBlock::set(bool on) {
    if (on && !assertion_) {
        const auto created =
            assertions_.createWithName(assertion_type::kPreventUserIdleDisplaySleep,
                                       kAssertionLevelOn, "Orvel \u2014 screen saver");
        if (created.status == kIOReturnSuccess) {
            assertion_ = created.id;
        } else {
            const EnglishTexts english;  // a log line
            Logger("display").error(
                "The screen saver could not be held off. " +
                powerLockFailure(assertion_type::kPreventUserIdleDisplaySleep, created.status));
        }
    } else if (!on && assertion_) {
        assertions_.release(*assertion_);
        assertion_.reset();
    }
}

}  // namespace orvel
