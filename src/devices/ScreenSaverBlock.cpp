#include "devices/ScreenSaverBlock.h"

#include "foundation/Log.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"

namespace orvel {

ScreenSaverBlock& ScreenSaverBlock::shared() {
    return ORVEL_SHARED_INSTANCE(ScreenSaverBlock);
}

ScreenSaverBlock::ScreenSaverBlock() {
    refused_ = Platform::current().powerAssertions().assertionRefused.subscribe(
        [this](AssertionID id, IOReturn) {
            if (assertion_ == id) {
                Platform::current().powerAssertions().release(id);
                assertion_.reset();
            }
        });
}

void ScreenSaverBlock::set(bool on) {
    PowerAssertions& assertions = Platform::current().powerAssertions();
    if (on && !assertion_) {
        const auto created =
            assertions.createWithName(assertion_type::kPreventUserIdleDisplaySleep,
                                      kAssertionLevelOn, "Orvel \u2014 screen saver");
        if (created.status == kIOReturnSuccess) {
            assertion_ = created.id;
        } else {
            Logger("display").error("The screen saver could not be held off (code " +
                                    std::to_string(created.status) + ").");
        }
    } else if (!on && assertion_) {
        assertions.release(*assertion_);
        assertion_.reset();
    }
}

}  // namespace orvel
