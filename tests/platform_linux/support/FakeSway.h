#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/UniqueFd.h"
#include "platform/sim/RecordingLogSink.h"

namespace orvel::test {

// A stand-in for sway's IPC socket: reads each request in i3's framing and answers it as told.
class FakeSway {
  public:
    explicit FakeSway(std::string path);
    ~FakeSway();
    bool isListening() const { return listening_; }

    // Takes one request if one is waiting and answers it (nothing: closes unanswered); false
    // while none has come.
    bool serveOne(const std::optional<std::string>& answer);

    // Takes one subscription if one is waiting, answers it and keeps its connection for
    // event(); false while none has come.
    bool acceptSubscription();
    // Sends an event of `type` to the subscription kept.
    void event(std::uint32_t type, const std::string& payload);

    std::vector<std::string> requests;  // "i3-ipc <type> <payload>" each

  private:
    // Reads a request from a client just taken: its type, or nothing where it came short.
    std::optional<std::uint32_t> read(const UniqueFd& client);
    void reply(const UniqueFd& client, std::uint32_t type, const std::string& payload);

    std::string path_;
    UniqueFd subscriber_;
    UniqueFd listener_;
    bool listening_ = false;
};

// sway's IPC needs no bus: only a real loop and the log.
class SwayIpcTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // A socket path of this test process's own.
    static std::string socketPath();
    std::shared_ptr<RecordingLogSink> log = std::make_shared<RecordingLogSink>();

  private:
    std::shared_ptr<LogSink> previous_;
};

}  // namespace orvel::test
