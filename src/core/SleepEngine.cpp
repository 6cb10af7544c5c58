#include "core/SleepEngine.h"

#include <algorithm>
#include <cstdio>

#include "foundation/Data.h"
#include "foundation/Localization.h"
#include "platform/Platform.h"
#include "platform/PowerAssertionWords.h"

namespace orvel {

// SleepEngineError ----------------------------------------------------------------------------

SleepEngineError SleepEngineError::launchFailed(std::string description) {
    return SleepEngineError{Case::launchFailed, std::move(description), 0};
}

SleepEngineError SleepEngineError::assertionFailed(std::int32_t code, std::string type) {
    return SleepEngineError{Case::assertionFailed, std::move(type), code};
}

SleepEngineError SleepEngineError::unsupportedOption(std::string option) {
    return SleepEngineError{Case::unsupportedOption, std::move(option), 0};
}

SleepEngineError SleepEngineError::binaryMissing(std::string path) {
    return SleepEngineError{Case::binaryMissing, std::move(path), 0};
}

SleepEngineError SleepEngineError::childFailed(std::string words, std::int32_t status) {
    return SleepEngineError{Case::childFailed, std::move(words), status};
}

namespace {

// How a child that said nothing ended.
std::string childEnding(std::int32_t status) {
    if (status > 128) {
        return localizedFormat("ended by signal %lld", {std::int64_t{status - 128}});
    }
    if (status < 0) {
        return localized("ended, and the system did not say how");
    }
    return localizedFormat("exited with status %lld", {std::int64_t{status}});
}

}  // namespace

std::string SleepEngineError::localizedDescription() const {
    switch (kind) {
        case Case::launchFailed:
            return localizedFormat("Could not launch caffeinate: %@", {text});
        case Case::assertionFailed:
            return powerLockFailure(text, code);
        case Case::unsupportedOption:
            return localizedFormat("%@ is not supported by this engine.", {text});
        case Case::binaryMissing:
            return localizedFormat("%@ is missing or not executable.", {text});
        case Case::childFailed:
            // Orvel's own caffeinate says why in the words of this catalogue; another
            // program's words are shown as it said them.
            return localizedFormat("caffeinate failed: %@",
                                   {text.empty() ? childEnding(code) : localized(text)});
    }
    return {};
}

std::string SleepEngineError::description() const {
    EnglishTexts english;
    return localizedDescription();
}

// CaffeinateEngine ----------------------------------------------------------------------------

namespace {

// Long enough for any message of a line; a longer one is cut.
constexpr std::size_t kWordsLimit = 240;

void trim(std::string_view& text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
}

// What a failed child said last: its last line on standard error that is not blank, without
// the program's own "caffeinate: " in front, made safe to show; empty when it said nothing.
std::string failureWords(std::string_view said) {
    std::string text = replacingInvalidUTF8(said);
    // Control characters (tabs, a terminal's colours) become spaces.
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n') || byte == 0x7F) {
            c = ' ';
        }
    }
    std::string_view rest(text);
    std::string_view line;
    while (line.empty() && !rest.empty()) {
        const std::size_t newline = rest.rfind('\n');
        line = newline == std::string_view::npos ? rest : rest.substr(newline + 1);
        rest = newline == std::string_view::npos ? std::string_view() : rest.substr(0, newline);
        trim(line);
    }
    if (line.starts_with("caffeinate: ")) {
        line.remove_prefix(12);
    }
    if (!line.empty()) {
        if (line.size() <= kWordsLimit) {
            return std::string(line);
        }
        std::size_t cut = kWordsLimit;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a character
        }
        return std::string(line.substr(0, cut)) + "\u2026";
    }
    return {};
}

}  // namespace

std::shared_ptr<CaffeinateEngine> CaffeinateEngine::make(Processes& processes) {
    return std::shared_ptr<CaffeinateEngine>(new CaffeinateEngine(processes));
}

CaffeinateEngine::CaffeinateEngine(Processes& processes)
    : processes_(processes), log_("caffeinate") {}

// An engine never leaves its child running behind it.
CaffeinateEngine::~CaffeinateEngine() {
    stop();
}

Result<void, SleepEngineError> CaffeinateEngine::start(const SleepOptions& options,
                                                       std::function<void()> onExit) {
    stop();
    const std::uint64_t startNumber = ++startNumber_;
    if (!processes_.isExecutableFile(kCaffeinatePath)) {
        return SleepEngineError::binaryMissing(processes_.resolve(kCaffeinatePath));
    }

    // The handler runs on a thread of the platform's choosing: it only hands over to the main
    // loop, carrying the engine weakly and onExit strongly.
    std::weak_ptr<CaffeinateEngine> weakSelf = weak_from_this();
    auto handler = [weakSelf, onExit = std::move(onExit), startNumber](int status) {
        RunLoop::main().async([weakSelf, onExit, startNumber, status] {
            if (auto self = weakSelf.lock()) {
                self->childExited(startNumber, status, onExit);
            } else if (onExit) {
                onExit();
            }
        });
    };

    LaunchRequest request{kCaffeinatePath, options.caffeinateArguments()};
    request.keepStandardError = true;  // a child that fails says why there
    auto launched = processes_.launch(request, std::move(handler));
    if (!launched) {
        return SleepEngineError::launchFailed(launched.error().message);
    }
    process_ = std::move(launched.value());
    if (log_.isInfoEnabled()) {
        log_.info("started: " + options.commandLine(processes_.resolve(kCaffeinatePath)));
    }
    return {};
}

void CaffeinateEngine::childExited(std::uint64_t startNumber, int status,
                                   const std::function<void()>& onExit) {
    // A later start has its own child; this notice is stale.
    if (startNumber_ != startNumber) {
        return;
    }
    const std::shared_ptr<ChildProcess> child = std::exchange(process_, nullptr);
    if (status == 0) {
        if (onExit) {
            onExit();
        }
        return;
    }
    const SleepEngineError error =
        SleepEngineError::childFailed(failureWords(child ? child->standardError() : ""), status);
    log_.error(error.description());
    if (onFailure) {
        onFailure(error);
    } else if (onExit) {
        onExit();  // an owner that hears of no failure still hears of the end
    }
}

void CaffeinateEngine::stop() {
    if (process_ && process_->isRunning()) {
        // An end the owner asked for must never reach onExit.
        process_->clearTerminationHandler();
        process_->terminate();
    }
    process_ = nullptr;
}

// AssertionEngine -----------------------------------------------------------------------------

std::shared_ptr<AssertionEngine> AssertionEngine::make(PowerAssertions& assertions) {
    return std::shared_ptr<AssertionEngine>(new AssertionEngine(assertions));
}

// An engine never leaves its assertions held behind it.
AssertionEngine::~AssertionEngine() {
    stop();
}

Result<void, SleepEngineError> AssertionEngine::start(const SleepOptions& options,
                                                      std::function<void()> onExit) {
    if (options.watchPID) {
        return SleepEngineError::unsupportedOption("Waiting for a process to exit (-w)");
    }
    stop();

    std::optional<SleepEngineError> displayLost;
    for (std::string_view type : options.assertionTypes()) {
        const AssertionCreation created =
            assertions_.createWithName(type, kAssertionLevelOn, kAssertionName);
        if (created.status != kIOReturnSuccess) {
            auto error = SleepEngineError::assertionFailed(created.status, std::string(type));
            if (type == assertion_type::kPreventUserIdleDisplaySleep) {
                displayLost = std::move(error);
                continue;
            }
            stop();
            return error;
        }
        ids_.push_back(created.id);
        types_.emplace_back(type);
    }
    if (displayLost && ids_.empty()) {
        return *displayLost;
    }

    std::weak_ptr<AssertionEngine> weakSelf = weak_from_this();
    // A hold the system takes back later means nothing keeps the machine awake any more.
    refusal_ = assertions_.assertionRefused.subscribe(
        [weakSelf](const AssertionID& id, const IOReturn& code) {
            auto self = weakSelf.lock();
            const auto it = self ? std::find(self->ids_.begin(), self->ids_.end(), id)
                                 : std::vector<AssertionID>::iterator();
            if (!self || it == self->ids_.end()) {
                return;
            }
            const auto index = it - self->ids_.begin();
            const std::string type = self->types_[static_cast<std::size_t>(index)];
            if (type == assertion_type::kPreventUserIdleDisplaySleep && self->ids_.size() > 1) {
                self->assertions_.release(id);
                self->ids_.erase(it);
                self->types_.erase(self->types_.begin() + index);
                if (auto handler = self->onDisplayLost) {
                    handler(SleepEngineError::assertionFailed(code, type));
                }
                return;
            }
            self->stop();
            if (auto handler = self->onFailure) {
                handler(SleepEngineError::assertionFailed(code, type));
            }
        });
    if (options.declareUserActive) {
        AssertionID id = 0;
        assertions_.declareUserActivity(kAssertionName, kUserActiveLocal, id);
        userActiveTimer_ = RunLoop::main().every(kUserActivityInterval, [weakSelf] {
            if (auto self = weakSelf.lock()) {
                AssertionID again = 0;
                self->assertions_.declareUserActivity(kAssertionName, kUserActiveLocal, again);
            }
        });
    }

    if (displayLost && onDisplayLost) {
        onDisplayLost(*displayLost);
    }

    if (options.timeout > 0) {
        // A main-queue work item, so it runs in every loop mode.
        timeoutWork_ = RunLoop::main().after(
            static_cast<double>(options.timeout),
            [weakSelf, onExit = std::move(onExit)] {
                if (auto self = weakSelf.lock()) {
                    self->stop();
                }
                if (onExit) {
                    onExit();
                }
            },
            TimerMode::Common);
    }
    return {};
}

void AssertionEngine::stop() {
    timeoutWork_.cancel();
    userActiveTimer_.cancel();
    refusal_.cancel();
    if (!Platform::isInstalled()) {  // the holds went with the platform
        ids_.clear();
        types_.clear();
        return;
    }
    for (AssertionID id : ids_) {
        assertions_.release(id);
    }
    ids_.clear();
    types_.clear();
}

}  // namespace orvel
