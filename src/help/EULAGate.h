#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "foundation/Json.h"
#include "foundation/Published.h"
#include "foundation/WeakRef.h"
#include "ui/Host.h"

namespace orvel {

class LicenseAgreement;
class Paths;
class UserDefaults;

// The end-user agreement: nothing starts until the user has agreed to its current version.
// Main thread only.
class EULAGate final : public WeakReferenceable {
  public:
    static constexpr const char* currentVersion = "1.0-draft";
    static constexpr const char* kResourceName = "eula-1.0-draft.md";

    // The record of the user's assent, kept in "eula-assent.json".
    struct AssentRecord {
        std::string version;
        std::string sha256;
        Date timestamp;
        std::string appVersion;
        std::string build;
        bool scrolledToEnd = false;

        Json toJson() const;
        static Result<AssentRecord> fromJson(const Json& json);
        // From the text of the record's file.
        static Result<AssentRecord> decode(std::string_view text);
    };

    // One line of the rendered agreement.
    struct Line {
        enum class Style { body, heading, subheading, quote };
        std::string text;
        Style style = Style::body;
        bool operator==(const Line&) const = default;
    };

    struct Agreement {
        std::string text;
        std::string sha256;  // of the bytes as read
    };

    explicit EULAGate(LicenseAgreement& agreement);
    ~EULAGate();

    // The height of a blank line of the agreement: a paragraph gap.
    static constexpr double kParagraphGap = 10;
    // The record's six fields take under 300 bytes; a larger file is not a record.
    static constexpr std::size_t kMaxAssentSize = 4096;
    static std::vector<Line> renderAgreement(const std::string& text);

    // The gate being shown at start-up; kept alive while its window is up.
    static std::shared_ptr<EULAGate>& current();

    std::function<void()> onAgree;

    // Builds and shows the agreement window.
    void show();
    // The scroll position changed; `atEnd` when the text is scrolled to its end.
    void scrollChanged(bool atEnd);
    void agreeTapped() { recordAssent(); }
    void quitTapped();
    void recordAssent();

    // State the window shows.
    class State;
    State& state() { return *state_; }
    ui::Window* window() { return window_.get(); }
    const std::string& sha() const { return sha_; }
    bool agreed() const { return agreed_; }
    bool resourceMissing() const { return resourceMissing_; }

    static std::string missingResourceText();

  private:
    void windowWillClose();

    LicenseAgreement& agreement_;
    std::unique_ptr<ui::Window> window_;
    std::shared_ptr<State> state_;
    std::string sha_;
    bool agreed_ = false;
    bool resourceMissing_ = false;
};

// The agreement's files (the text shipped with the program, the user's assent) and its
// read-only window. Main thread only.
class LicenseAgreement {
  public:
    LicenseAgreement(Paths& paths, UserDefaults& defaults);
    LicenseAgreement(const LicenseAgreement&) = delete;
    LicenseAgreement& operator=(const LicenseAgreement&) = delete;

    // "eula-assent.json" in the application's data folder, which this creates when missing.
    std::string assentFileURL();
    // The record in the assent file; none when it is missing, damaged or too large.
    std::optional<EULAGate::AssentRecord> storedAssent();
    // Whether the assent file records the current version; anything unreadable counts as no.
    bool hasCurrentAssent();
    std::optional<EULAGate::Agreement> loadAgreement();
    // Writes the record and notes the version in the defaults; a failed write leaves a log line.
    void recordAssent(const EULAGate::AssentRecord& record);
    // The read-only agreement window of the About window, built on first use and kept.
    void showAgreementText();

  private:
    Paths& paths_;
    UserDefaults& defaults_;
    std::unique_ptr<ui::Window> textWindow_;
};

// The observable state of the agreement window.
class EULAGate::State final : public ObservableObject {
  public:
    Published<bool> agreeEnabled{*this, false};
    Published<std::string> hint{*this, "Scroll to the end to enable Agree."};
    std::vector<Line> lines;
    std::string versionLine;
};

}  // namespace orvel
