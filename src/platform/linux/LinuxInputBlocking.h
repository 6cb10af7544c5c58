#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "foundation/Result.h"
#include "platform/InputBlocking.h"
#include "platform/linux/LinuxInputAccess.h"
#include "platform/linux/UniqueFd.h"

namespace orvel {

// Switches built-in input devices off in the kernel: through the input device's `inhibited`
// attribute where it is writable, else by grabbing its event node (EVIOCGRAB), whose events the
// input thread drains. Nothing passes through Orvel: external devices never reach it.
//
// Every inhibited attribute is written into `<runtime>/inhibited` before the device goes off and
// struck off after it comes back; releaseRecorded() at start-up gives back what a crashed run
// left off. A grab ends with its descriptor, so a crash cannot leave one behind. The record is
// kept only in a folder of `owner`'s alone, and only its lines naming an input device's
// `inhibited` attribute under <sys>/devices are acted on.
class LinuxInputBlocking final : public InputBlocking {
  public:
    LinuxInputBlocking(LinuxHidDevices& devices, std::string runtimeDirectory,
                       uid_t owner = ::geteuid());

    BlockingWay way() override { return BlockingWay::perDevice; }
    InputHoldResult silence(const std::vector<HidDevice>& devices) override;
    InputHoldResult observe(const std::vector<HidDevice>& devices, InputValueCallback) override;

    // Switches back on every device a previous run recorded as inhibited.
    void releaseRecorded();
    std::string recordPath() const { return runtime_ + "/inhibited"; }

  private:
    // <sys>/devices, resolved.
    std::string devicesFolder() const;
    // Records the `inhibited` attribute at `path`, then switches its device off: the resolved
    // attribute, or nothing (and a log line) when that cannot be done.
    std::optional<std::string> inhibit(const std::string& path);
    // Makes the runtime folder when absent; false, with a log line, when it is not owner's alone.
    bool recordFolderIsPrivate() const;
    // The resolved path when `path` names the `inhibited` attribute of an input device
    // (<sys>/devices/…/input/inputN/inhibited, a regular file); else why not, in words.
    Result<std::string> inhibitedAttribute(const std::string& path) const;

    LinuxHidDevices& devices_;
    std::string runtime_;
    uid_t owner_;
};

// Reads and discards whatever arrives on a fixed set of descriptors until it is destroyed. The
// set is complete before the thread starts.
class InputDrainThread {
  public:
    explicit InputDrainThread(std::vector<UniqueFd> fds);
    ~InputDrainThread();
    InputDrainThread(const InputDrainThread&) = delete;
    InputDrainThread& operator=(const InputDrainThread&) = delete;

    std::uint64_t drainedBytes() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace orvel
