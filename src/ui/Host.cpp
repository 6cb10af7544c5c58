#include "ui/Host.h"

#include "foundation/RunLoop.h"

#include <cstdio>
#include <cstdlib>

namespace orvel::ui {

namespace {
std::unique_ptr<UiHost>& installed() {
    static std::unique_ptr<UiHost> host;
    return host;
}
}  // namespace

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
