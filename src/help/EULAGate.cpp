#include "help/EULAGate.h"

#include "foundation/AppInfo.h"
#include "foundation/FileIO.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/Registry.h"
#include "foundation/RunLoop.h"
#include "foundation/Sha256.h"
#include "help/Contacts.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"
#include "ui/ViewComponent.h"

namespace orvel {

using namespace ui;

namespace {

std::string footer() {
    return std::string(
               "If you do not agree, click Quit and delete Orvel. Questions about this "
               "agreement: ") +
           kSupportAddress;
}

Font lineFont(EULAGate::Line::Style style) {
    switch (style) {
        case EULAGate::Line::Style::heading:
            return Font::system(16, FontWeight::bold);
        case EULAGate::Line::Style::subheading:
            return Font::system(13.5, FontWeight::bold);
        default:
            return Font::system(12);
    }
}

View agreementText(const std::vector<EULAGate::Line>& lines) {
    std::vector<View> rows;
    rows.reserve(lines.size());
    for (const auto& line : lines) {
        // An empty text is drawn 0 high; the agreement's blank lines part its paragraphs.
        if (line.text.empty() && line.style == EULAGate::Line::Style::body) {
            rows.push_back(Spacer().frame(Frame::fixed(std::nullopt, EULAGate::kParagraphGap)));
            continue;
        }
        View text = TextVerbatim(line.text).font(lineFont(line.style));
        if (line.style == EULAGate::Line::Style::quote) {
            text = text.foregroundStyle(Hierarchy::secondary);
        }
        rows.push_back(text.fixedSize(false, true));
    }
    return VStack(HAlign::leading, 0, std::move(rows))
        .textSelection()
        .padding(10)
        .frame(Frame().withMaxWidth(kInfinity).withAlignment(Alignment::topLeading()));
}

// The agreement window's content.
class AgreementView final : public ViewComponent {
  public:
    AgreementView(WeakRef<EULAGate> gate, std::shared_ptr<EULAGate::State> state)
        : gate_(gate), state_(std::move(state)) {}

    std::vector<ObservableObject*> observedObjects() override { return {state_.get()}; }

    View body() override {
        const auto gate = gate_;
        const auto small = [](View v) {
            return v.font(Font::system(10.5)).foregroundStyle(Hierarchy::secondary);
        };
        return VStack(HAlign::leading, 8,
                      {
                          TextVerbatim("End User License Agreement")
                              .font(Font::system(15, FontWeight::bold))
                              .frame(Frame().withMaxWidth(kInfinity)),
                          small(TextVerbatim(state_->versionLine))
                              .frame(Frame().withMaxWidth(kInfinity)),
                          ScrollView(agreementText(state_->lines))
                              .onScrolledToEnd([gate] {
                                  if (auto* g = gate.get()) {
                                      g->scrollChanged(true);
                                  }
                              })
                              .frame(Frame().withMinHeight(380).withMaxHeight(kInfinity))
                              .overlay(Stroke{Color::named(NamedColor::separator), 1,
                                              Shape::rectangle()}),
                          small(Text(
                              "This Agreement is provided in English; the English text governs.")),
                          small(TextVerbatim(footer())).lineLimit(2),
                          HStack(VAlign::center, 8,
                                 {
                                     TextVerbatim(state_->hint())
                                         .font(Font::system(10))
                                         .foregroundStyle(Hierarchy::tertiary),
                                     Spacer(),
                                     Button(TextVerbatim("Quit"),
                                            [gate] {
                                                if (auto* g = gate.get()) {
                                                    g->quitTapped();
                                                }
                                            })
                                         .keyboardShortcut(KeyboardShortcut::cancelAction()),
                                     Button(TextVerbatim("Agree"),
                                            [gate] {
                                                if (auto* g = gate.get()) {
                                                    g->agreeTapped();
                                                }
                                            })
                                         .keyboardShortcut(KeyboardShortcut::defaultAction())
                                         .disabled(!state_->agreeEnabled()),
                                 }),
                      })
            .padding(EdgeInsets{16, 18, 14, 18});
    }

  private:
    WeakRef<EULAGate> gate_;
    std::shared_ptr<EULAGate::State> state_;
};

// The read-only agreement window's content.
class AgreementTextView final : public ViewComponent {
  public:
    explicit AgreementTextView(std::vector<EULAGate::Line> lines) : lines_(std::move(lines)) {}
    View body() override { return ScrollView(agreementText(lines_)); }

  private:
    std::vector<EULAGate::Line> lines_;
};

}  // namespace

// Record -----------------------------------------------------------------------------------------

Json EULAGate::AssentRecord::toJson() const {
    Json json = Json::object();
    json["version"] = version;
    json["sha256"] = sha256;
    json["timestamp"] = timestamp.secondsSinceReferenceDate;
    json["appVersion"] = appVersion;
    json["build"] = build;
    json["scrolledToEnd"] = scrolledToEnd;
    return json;
}

Result<EULAGate::AssentRecord> EULAGate::AssentRecord::fromJson(const Json& json) {
    JsonReader reader(json, "assent record");
    AssentRecord record;
    record.version = reader.string("version");
    record.sha256 = reader.string("sha256");
    record.timestamp = reader.date("timestamp");
    record.appVersion = reader.string("appVersion");
    record.build = reader.string("build");
    record.scrolledToEnd = reader.boolean("scrolledToEnd");
    return reader.finish(record);
}

Result<EULAGate::AssentRecord> EULAGate::AssentRecord::decode(std::string_view text) {
    auto json = parseJson(text);
    if (!json) {
        return json.error();
    }
    return fromJson(*json);
}

// The agreement's files --------------------------------------------------------------------------

LicenseAgreement::LicenseAgreement(Paths& paths, UserDefaults& defaults)
    : paths_(paths), defaults_(defaults) {}

std::string LicenseAgreement::assentFileURL() {
    const std::string folder = paths_.applicationSupportDirectory();
    // A failure shows up as a missing record; the write after Agree says why.
    (void)makeDirectories(folder);
    return folder + "/eula-assent.json";
}

std::optional<EULAGate::AssentRecord> LicenseAgreement::storedAssent() {
    auto bytes = readFile(assentFileURL(), EULAGate::kMaxAssentSize);
    if (!bytes) {
        return std::nullopt;
    }
    auto record = EULAGate::AssentRecord::decode(stringFromData(*bytes));
    if (!record) {
        return std::nullopt;
    }
    return std::move(record.value());
}

bool LicenseAgreement::hasCurrentAssent() {
    const auto record = storedAssent();
    return record && record->version == EULAGate::currentVersion;
}

std::optional<EULAGate::Agreement> LicenseAgreement::loadAgreement() {
    const std::string path = paths_.resourcesDirectory() + "/" + EULAGate::kResourceName;
    auto bytes = readFile(path);
    if (!bytes) {
        return std::nullopt;
    }
    std::string text = stringFromData(*bytes);
    if (!isValidUTF8(text)) {
        return std::nullopt;
    }
    return EULAGate::Agreement{std::move(text), sha256Hex(*bytes)};
}

void LicenseAgreement::recordAssent(const EULAGate::AssentRecord& record) {
    // A failed write is not retried: the gate simply shows again at the next launch. The window
    // closes on Agree whatever happens, so the log is the only place to say why.
    if (auto written = writeFileAtomically(assentFileURL(), dumpJson(record.toJson()).value());
        !written) {
        Logger("agreement")
            .error("Could not record the agreement: " + written.error().message +
                   ". Orvel will ask again at the next start.");
    }
    defaults_.setString("eulaAcceptedVersion", EULAGate::currentVersion);
}

void LicenseAgreement::showAgreementText() {
    if (!textWindow_) {
        const auto agreement = loadAgreement();
        const std::string text =
            agreement ? agreement->text : std::string("EULA resource missing from the app bundle.");
        textWindow_ = UiHost::current().makeWindow();
        textWindow_->setTitle(std::string("License Agreement \u2014 v") + EULAGate::currentVersion);
        textWindow_->setStyle(kWindowTitled | kWindowClosable | kWindowResizable);
        textWindow_->setContentSize(560, 600);
        textWindow_->setContent(
            std::make_shared<AgreementTextView>(EULAGate::renderAgreement(text)));
        textWindow_->center();
    }
    UiHost::current().application().activate(true);
    textWindow_->makeKeyAndOrderFront();
}

// The gate ---------------------------------------------------------------------------------------

EULAGate::EULAGate(LicenseAgreement& agreement)
    : agreement_(agreement), state_(std::make_shared<State>()) {}

EULAGate::~EULAGate() {
    if (window_) {
        window_->onClose = nullptr;
    }
}

std::shared_ptr<EULAGate>& EULAGate::current() {
    struct Holder {
        static Holder& shared() { return ORVEL_SHARED_INSTANCE(Holder); }
        std::shared_ptr<EULAGate> gate;
    };
    return Holder::shared().gate;
}

std::vector<EULAGate::Line> EULAGate::renderAgreement(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    std::size_t first = 0;
    if (lines.size() >= 4 && lines[0] == "eula" && !lines[1].empty() && !lines[2].empty()) {
        first = 3;
        while (first < lines.size() && lines[first].empty()) {
            ++first;
        }
    }
    std::vector<Line> rendered;
    for (std::size_t i = first; i < lines.size(); ++i) {
        std::string line = lines[i];
        Line::Style style = Line::Style::body;
        if (line.rfind("## ", 0) == 0) {
            line.erase(0, 3);
            style = Line::Style::subheading;
        } else if (line.rfind("# ", 0) == 0) {
            line.erase(0, 2);
            style = Line::Style::heading;
        } else if (line.rfind("> ", 0) == 0) {
            line.erase(0, 2);
            style = Line::Style::quote;
        }
        for (std::size_t at; (at = line.find("**")) != std::string::npos;) {
            line.erase(at, 2);
        }
        rendered.push_back(Line{line, style});
    }
    return rendered;
}

std::string EULAGate::missingResourceText() {
    return std::string("EULA resource missing from the app bundle.\n\nAdd Resources/") +
           kResourceName + " to the Orvel target (Copy Bundle Resources) and rebuild.";
}

void EULAGate::show() {
    const auto agreement = agreement_.loadAgreement();
    sha_ = agreement ? agreement->sha256 : "";
    resourceMissing_ = !agreement;
    state_->lines = renderAgreement(agreement ? agreement->text : missingResourceText());
    state_->versionLine = std::string("Version ") + currentVersion;
    if (!sha_.empty()) {
        state_->versionLine += " \u00B7 SHA-256 " + sha_.substr(0, 8) + "\u2026" + sha_.substr(60);
    }

    UiHost& host = UiHost::current();
    window_ = host.makeWindow();
    window_->setTitle("Orvel");
    window_->setStyle(kWindowTitled | kWindowClosable);
    window_->setContentSize(560, 640);
    window_->setContent(std::make_shared<AgreementView>(weakRef(*this), state_));
    window_->setLevel(WindowLevel::floating);
    window_->center();
    window_->onClose = [weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->windowWillClose();
        }
    };
    host.application().activate(true);
    window_->makeKeyAndOrderFront();
    RunLoop::main().async([weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->scrollChanged(false);
        }
    });
}

void EULAGate::scrollChanged(bool atEnd) {
    if (resourceMissing_) {
        state_->agreeEnabled = false;
        state_->hint = "EULA resource missing \u2014 Agree stays disabled. Fix the build.";
        return;
    }
    if (!atEnd) {
        return;
    }
    if (!state_->agreeEnabled()) {
        UiHost::current().announce(
            localized("Agreement read to the end \u2014 Agree is now available"));
        state_->agreeEnabled = true;
    }
    state_->hint = "";
}

void EULAGate::quitTapped() {
    UiHost::current().application().terminate();
}

void EULAGate::windowWillClose() {
    if (!agreed_) {
        UiHost::current().application().terminate();
    }
}

void EULAGate::recordAssent() {
    // The gate may be the last owner of itself through current(): keep it until this returns.
    std::shared_ptr<EULAGate> keepAlive = current();
    agreement_.recordAssent(
        AssentRecord{currentVersion, sha_, now(), appVersion(), appBuild(), true});
    agreed_ = true;
    if (window_) {
        window_->onClose = nullptr;
        window_->close();
        // The Agree button that runs this lives in the window: let it go on the next turn.
        std::shared_ptr<Window> closed = std::move(window_);
        RunLoop::main().async([closed] {});
    }
    if (current().get() == this) {
        current().reset();
    }
    if (keepAlive) {
        RunLoop::main().async([keepAlive] {});
    }
    if (onAgree) {
        auto action = onAgree;
        action();
    }
}

}  // namespace orvel
