#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/EngineKind.h"
#include "core/SleepOptions.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/Result.h"
#include "foundation/RunLoop.h"
#include "platform/PowerAssertions.h"
#include "platform/Processes.h"

namespace orvel {

// Why an engine could not start, or why a prevention it started failed; the description is the
// text shown to the user.
struct SleepEngineError {
    enum class Case {
        launchFailed,
        assertionFailed,
        unsupportedOption,
        binaryMissing,
        childFailed
    };

    Case kind = Case::binaryMissing;
    // launchFailed: the launch error; assertionFailed: the assertion type; unsupportedOption: the
    // option; binaryMissing: the program's path; childFailed: the child's last words, if any.
    std::string text;
    // assertionFailed: the platform's return code; childFailed: the exit status (above 128: a
    // signal; below 0: not known), told when the child said nothing.
    std::int32_t code = 0;

    static SleepEngineError launchFailed(std::string description);
    static SleepEngineError assertionFailed(std::int32_t code, std::string type);
    static SleepEngineError unsupportedOption(std::string option);
    static SleepEngineError binaryMissing(std::string path = kCaffeinatePath);
    static SleepEngineError childFailed(std::string words, std::int32_t status);

    // In the reader's language, for the user; description() in English, for logs and records.
    std::string localizedDescription() const;
    std::string description() const;
    bool operator==(const SleepEngineError&) const = default;
};

// One way of keeping the machine awake. Engines are main-thread objects owned through
// std::shared_ptr (their deferred callbacks hold them weakly). `onExit` runs on the main thread,
// at most once per start, and only when the prevention ends by itself; stop() never calls it.
class SleepEngine {
  public:
    virtual ~SleepEngine() = default;

    virtual std::string name() const = 0;
    virtual EngineKind kind() const = 0;
    // Replaces whatever the engine held with a new prevention, or fails.
    virtual Result<void, SleepEngineError> start(const SleepOptions& options,
                                                 std::function<void()> onExit) = 0;
    // Ends the prevention at once; harmless when nothing is held.
    virtual void stop() = 0;

    // Called on the main thread when a prevention that started fails later (the system takes
    // back a hold it had granted, the caffeinate child fails); the engine has already let go of
    // the rest of it. It is called instead of `onExit`, never as well.
    std::function<void(const SleepEngineError&)> onFailure;
    // Called on the main thread when the display's hold could not be had, or was taken back,
    // while the rest of the prevention holds: the session goes on without it.
    std::function<void(const SleepEngineError&)> onDisplayLost;
};

// Runs the caffeinate program as a child process. The child's exit with status 0 is the
// prevention's own end (its timeout, the watched process's exit); any other end that Orvel did
// not ask for is a failure, told with what the child said last on standard error, and logged.
class CaffeinateEngine final : public SleepEngine,
                               public std::enable_shared_from_this<CaffeinateEngine> {
  public:
    static std::shared_ptr<CaffeinateEngine> make(Processes& processes);
    ~CaffeinateEngine() override;

    std::string name() const override { return "caffeinate"; }
    EngineKind kind() const override { return EngineKind::caffeinate; }
    Result<void, SleepEngineError> start(const SleepOptions& options,
                                         std::function<void()> onExit) override;
    void stop() override;

    bool hasProcess() const { return process_ != nullptr; }

  private:
    explicit CaffeinateEngine(Processes& processes);
    void childExited(std::uint64_t startNumber, int status, const std::function<void()>& onExit);

    Processes& processes_;
    std::shared_ptr<ChildProcess> process_;
    Logger log_;
    // Counts starts, so an exit notice of an earlier child can be told from the current one.
    std::uint64_t startNumber_ = 0;
};

// Holds power assertions inside the application. The display's hold is an extra: one the
// desktop refuses is left out while anything else holds.
class AssertionEngine final : public SleepEngine,
                              public std::enable_shared_from_this<AssertionEngine> {
  public:
    static constexpr double kUserActivityInterval = 30.0;
    static constexpr const char* kAssertionName = "Orvel";

    static std::shared_ptr<AssertionEngine> make(PowerAssertions& assertions);
    ~AssertionEngine() override;

    std::string name() const override { return textKey("logind inhibitor locks"); }
    EngineKind kind() const override { return EngineKind::assertions; }
    Result<void, SleepEngineError> start(const SleepOptions& options,
                                         std::function<void()> onExit) override;
    void stop() override;

    const std::vector<AssertionID>& ids() const { return ids_; }
    bool hasTimeoutWork() const { return timeoutWork_.isValid(); }
    bool hasUserActiveTimer() const { return userActiveTimer_.isValid(); }

  private:
    explicit AssertionEngine(PowerAssertions& assertions) : assertions_(assertions) {}

    PowerAssertions& assertions_;
    std::vector<AssertionID> ids_;
    std::vector<std::string> types_;  // of ids_, in the same order
    Timer timeoutWork_;
    Timer userActiveTimer_;
    Subscription refusal_;
};

}  // namespace orvel
