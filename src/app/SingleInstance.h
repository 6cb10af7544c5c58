#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "foundation/RunLoop.h"

namespace orvel {

// One Orvel per folder: the per-user runtime folder on the real machine, the simulation's
// settings folder under --simulate. The instance that holds an flock on <folder>/orvel.lock
// runs and listens on <folder>/orvel.socket; a later launch that finds the lock held asks it,
// over that socket, to open its panel, and does not start. The lock is the truth: a socket or
// lock file left by a killed instance stops nobody.
//
// The request is one line, "open-panel\n"; the answer is one line saying what was shown ("its
// panel was opened\n"). Only processes of the same user are heard or believed.
//
// Threading: claim() on any thread before the run loop runs; the rest on the main thread.
class SingleInstance {
  public:
    enum class Outcome {
        // This process holds the lock: it runs, and serves other launches with serve().
        first,
        // Another instance holds the lock and opened its panel: this launch is done.
        handedOver,
        // Another instance holds the lock but did not answer in time: start nothing.
        noAnswer,
        // The lock could not be taken nor asked about: run, unguarded.
        unguarded,
    };

    struct Claim {
        Outcome outcome = Outcome::unguarded;
        // For `first`.
        std::unique_ptr<SingleInstance> instance;
        // Words for the user or the log: what the first instance showed, who did not answer,
        // why it is unguarded, or why other launches cannot reach the first.
        std::string message;
    };

    static constexpr const char* kLockName = "orvel.lock";
    static constexpr const char* kSocketName = "orvel.socket";
    static constexpr const char* kRequest = "open-panel\n";

    // Takes the lock in `folder` (made 0700 when missing), or asks its holder to open its
    // panel, waiting up to `answerSeconds` for it to answer; an instance that quits meanwhile
    // leaves the lock to this one. Never throws.
    static Claim claim(const std::string& folder, double answerSeconds);

    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Answers other launches' requests on the main loop: `openPanel` runs for each and says
    // what it showed, which the launch is told. Nothing waits for a peer; a request must arrive
    // within 2 s.
    void serve(std::function<std::string()> openPanel);

  private:
    struct Connection;

    SingleInstance(std::string folder, int lockFd);
    std::string listen();
    void acceptAll();
    void readFrom(int id);

    std::string folder_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    std::function<std::string()> openPanel_;
    FdWatch listenWatch_;
    int nextID_ = 0;
    std::map<int, std::unique_ptr<Connection>> connections_;
};

}  // namespace orvel
