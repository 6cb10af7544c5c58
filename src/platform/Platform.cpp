#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace orvel {

namespace {

std::unique_ptr<Platform>& installed() {
    static std::unique_ptr<Platform> platform;
    return platform;
}

}  // namespace

Platform& Platform::current() {
    if (!installed()) {
        std::fputs("Platform::current() used before a platform was installed\n", stderr);
        std::abort();
    }
    return *installed();
}

bool Platform::isInstalled() {
    return installed() != nullptr;
}

std::unique_ptr<Platform> Platform::install(std::unique_ptr<Platform> platform) {
    if (platform) {
        installLogSink(platform->logSink());
    } else {
        installLogSink(std::make_shared<StderrLogSink>());
    }
    return std::exchange(installed(), std::move(platform));
}

}  // namespace orvel
