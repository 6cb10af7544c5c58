#include "ui/Host.h"

#include "foundation/RunLoop.h"
#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

namespace orvel::ui {

namespace {
std::unique_ptr<UiHost>& installed() {
    static std::unique_ptr<UiHost> host;
    return host;
}
}  // namespace

HostCapabilities HostCapabilities::of(Platform& platform) {
    return HostCapabilities{&platform.userDefaults(), &platform.workspace(),
                            &platform.desktopSettings(), &platform.hotKeys()};
}

bool StatusItem::chooseMenuEntry(int id) const {
    for (const auto& entry : menu_) {
        if (entry.id == id && !entry.separator && entry.enabled && entry.action) {
            // The action may give the item a new menu.
            auto action = entry.action;
            action();
            return true;
        }
    }
    return false;
}

Result<void> UiHost::openLink(std::string_view url) {
    if (capabilities_.workspace == nullptr) {
        return Error{"This window cannot open links: it was shown without the desktop's help."};
    }
    return capabilities_.workspace->openURL(url);
}

UiHost& UiHost::current() {
    ORVEL_ASSERT_MAIN_THREAD("UiHost::current");
    if (!installed()) {
        std::fputs("UiHost::current() used before a host was installed\n", stderr);
        std::abort();
    }
    return *installed();
}

bool UiHost::isInstalled() {
    return installed() != nullptr;
}

std::unique_ptr<UiHost> UiHost::install(std::unique_ptr<UiHost> host) {
    ORVEL_ASSERT_MAIN_THREAD("UiHost::install");
    return std::exchange(installed(), std::move(host));
}

}  // namespace orvel::ui
