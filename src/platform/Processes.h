#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Result.h"

// Child processes. Threading: main thread only, except that termination handlers are called on
// a thread of the backend's choosing (never while a Processes call holds a lock they need).

namespace orvel {

struct LaunchRequest {
    std::string executable;  // an absolute path
    std::vector<std::string> arguments;
    // Standard input reads from the null device and standard output goes to it; so does standard
    // error, unless it is kept for ChildProcess::standardError().
    bool keepStandardError = false;
};

// A launched child. The handle does not own the process: dropping it neither waits for nor
// terminates the child.
class ChildProcess {
  public:
    virtual ~ChildProcess() = default;

    virtual int pid() const = 0;
    virtual bool isRunning() const = 0;
    // Asks the child to end (SIGTERM). Does nothing once it has exited.
    virtual void terminate() = 0;
    // Ends the child without asking (SIGKILL), for one that did not end when asked. Does nothing
    // once it has exited.
    virtual void kill() = 0;
    // Waits up to `seconds` for the child to have exited and been reaped; true when it has.
    // Blocks the calling thread, so it is for quitting only, when no loop turns any more.
    virtual bool waitForExit(double seconds) = 0;
    // Removes the termination handler: after this returns, the handler is not called (it may
    // still be running on its own thread if the child exited at this very moment).
    virtual void clearTerminationHandler() = 0;
    // The exit status (or 128 + signal number) once the child has exited; -1 before.
    virtual int terminationStatus() const = 0;
    // What the child wrote to standard error when its request kept it: the last
    // kStandardErrorLimit bytes as written (not necessarily UTF-8), complete when the termination
    // handler is called; empty before, and when it was not kept.
    virtual std::string standardError() const = 0;

    static constexpr std::size_t kStandardErrorLimit = 4096;
};

// Called once, on a thread of the backend's choosing, when the child has exited.
using TerminationHandler = std::function<void(int status)>;

class Processes {
  public:
    virtual ~Processes() = default;

    // Whether the path names a regular file that this user may execute.
    virtual bool isExecutableFile(std::string_view path) = 0;
    // The file that runs when `path` is launched: for a system program that Orvel brings its
    // own of, Orvel's; else the path itself.
    virtual std::string resolve(std::string_view path) const = 0;

    // Starts a child. The handler is set before the child starts, so no exit is missed. The
    // error text is the system's own description of why the launch failed.
    virtual Result<std::shared_ptr<ChildProcess>> launch(const LaunchRequest& request,
                                                         TerminationHandler onTermination) = 0;

    // Starts a child and forgets it: nobody waits for it, it is reaped when it exits and it
    // outlives Orvel. The child's pid, or why it could not start (also logged).
    virtual Result<int> launchDetached(const LaunchRequest& request) = 0;
};

}  // namespace orvel
