#pragma once

#include <string>

#include "wakehelper/WakeScheduler.h"

namespace orvel {

// The RTC's wake alarm through its sysfs file (<sys>/class/rtc/rtc0/wakealarm). The kernel
// refuses to move an armed alarm, so every setting writes "0" first.
class RtcWakeScheduler : public WakeScheduler {
  public:
    explicit RtcWakeScheduler(std::string wakealarmPath) : path_(std::move(wakealarmPath)) {}

    std::int32_t setAlarm(std::optional<std::int64_t> unixSeconds) override;

  protected:
    // One value, in one write of its own: sysfs takes a file's value from a single write.
    virtual std::int32_t write(const std::string& text);

  private:
    std::string path_;
};

}  // namespace orvel
