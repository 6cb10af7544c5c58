#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Result.h"
#include "foundation/RunLoop.h"
#include "wakehelper/Helper.h"

namespace orvel {

struct HelperServerOptions {
    std::string socketPath;
    // The one program served: a peer whose /proc/<pid>/exe is anything else is closed unread.
    // A first filter only: which dates a request may replace is decided by the peer's uid.
    std::string clientExecutable;
    std::string procRoot = "/proc";
};

// The helper's socket: accepts the application's connections, reads its frames and answers each
// with the helper, and re-arms the alarm when its date has passed or the clock was set. Nothing
// here waits for one peer: every descriptor is non-blocking and watched by the run loop, and an
// unfinished frame is given 5 s. Threading: main thread only.
class HelperServer {
  public:
    HelperServer(Helper& helper, HelperServerOptions options);
    ~HelperServer();
    HelperServer(const HelperServer&) = delete;
    HelperServer& operator=(const HelperServer&) = delete;

    // Binds the socket (replacing a stale one) so that any local user may connect, and starts
    // serving and following the alarm's date. Each peer's requests act on its own user's dates.
    Result<void> start();

    std::size_t connectionCount() const { return connections_.size(); }

  private:
    struct Connection;

    void acceptAll();
    bool admitted(Connection& connection, const char* when);
    void readFrom(int id);
    void reply(int id, const std::string& payload, bool close);
    void flush(int id);
    void drop(int id);
    void followAlarm();
    void alarmFired();

    Helper& helper_;
    HelperServerOptions options_;
    int listenFd_ = -1;
    FdWatch listenWatch_;
    int timerFd_ = -1;
    FdWatch timerWatch_;
    int nextID_ = 0;
    std::map<int, std::unique_ptr<Connection>> connections_;
};

}  // namespace orvel
