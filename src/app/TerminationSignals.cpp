#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace orvel {

namespace {

// The pipe the handler writes to; a plain int so the handler stays async-signal-safe.
int gWriteEnd = -1;
int gReadEnd = -1;

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void onTerminationSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] auto n = ::write(gWriteEnd, &byte, 1);
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    gReadEnd = fds[0];
    gWriteEnd = fds[1];
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
    watch_ = RunLoop::main().watchFd(gReadEnd, kFdReadable, [this](unsigned) {
        unsigned char bytes[16];
        ssize_t n;
        while ((n = ::read(gReadEnd, bytes, sizeof bytes)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                if (onSignal_) {
                    onSignal_(bytes[i]);
                }
            }
        }
    });
}

TerminationSignals::~TerminationSignals() {
    watch_.cancel();
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
    if (gReadEnd >= 0) {
        ::close(gReadEnd);
        ::close(gWriteEnd);
        gReadEnd = gWriteEnd = -1;
    }
}

}  // namespace orvel
