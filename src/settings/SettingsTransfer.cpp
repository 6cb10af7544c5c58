#include "settings/SettingsTransfer.h"

#include "core/ActivityLog.h"
#include "core/Preferences.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/FileIO.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/Numbers.h"
#include "foundation/Published.h"
#include "foundation/RunLoop.h"
#include "foundation/SerialQueue.h"
#include "platform/Bluetooth.h"
#include "platform/UserDefaults.h"
#include "triggers/TriggerEngine.h"
#include "ui/Host.h"
#include "ui/View.h"
#include "ui/ViewComponent.h"

#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <system_error>

namespace orvel::SettingsTransfer {

namespace {

const Logger& logger() {
    static const Logger logger("settings");
    return logger;
}

constexpr std::int64_t kMinDriveInterval = 15;
constexpr std::int64_t kMaxDriveInterval = 86400;

// The value's text as the file holds it: "1" or "0", decimal, the string itself.
std::optional<std::string> preferenceText(const DefaultsValue& value) {
    if (const auto* b = value.as<bool>()) {
        return *b ? "1" : "0";
    }
    if (const auto* i = value.as<std::int64_t>()) {
        return std::to_string(*i);
    }
    if (const auto* d = value.as<double>()) {
        char buffer[64];
        auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, *d);
        if (error != std::errc()) {
            return std::nullopt;
        }
        return std::string(buffer, end);
    }
    if (const auto* s = value.as<std::string>()) {
        return *s;
    }
    return std::nullopt;
}

std::optional<bool> parseBoolean(const std::string& text) {
    if (text == "1" || text == "true") {
        return true;
    }
    if (text == "0" || text == "false") {
        return false;
    }
    return std::nullopt;
}

// An optional sign and one or more digits within the 64-bit range, nothing else.
std::optional<std::int64_t> parseInteger(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && digits.front() == '-') {
            return std::nullopt;
        }
    }
    if (digits.empty() || (digits.size() == 1 && digits.front() == '-')) {
        return std::nullopt;
    }
    return parseNumber<std::int64_t>(digits);
}

// The keys a file carries that no setting owns: the triggers' master switch, which the engine
// stores and an import hands back to it, and three keys nothing here writes, which travel only
// when the defaults hold them from elsewhere and are never read back.
const std::vector<std::string>& unownedPreferenceKeys() {
    static const std::vector<std::string> keys = {
        "autoUnblockNoExternal",
        TriggerEngine::kMasterKey,
        "loginItem",
        "dockMode",
    };
    return keys;
}

// The file's text as a value of the setting's stored type, when it reads as one: a switch from
// "1", "0", "true" or "false", a whole number in decimal, a choice's raw value as it is.
std::optional<DefaultsValue> importedValue(const Preferences::SettingBase& setting,
                                           const std::string& text) {
    const auto& type = setting.registeredDefault();
    if (type.as<bool>()) {
        if (auto value = parseBoolean(text)) {
            return DefaultsValue(*value);
        }
    } else if (type.as<std::int64_t>()) {
        if (auto value = parseInteger(text)) {
            return DefaultsValue(*value);
        }
    } else if (type.as<std::string>()) {
        return DefaultsValue(text);
    }
    return std::nullopt;
}

// The number of values taken.
int applyPreferences(const Owners& owners, const std::map<std::string, std::string>& values) {
    auto& prefs = owners.prefs();
    std::map<std::string, Preferences::SettingBase*> importable;
    for (auto* setting : prefs.settings()) {
        if (setting->importable()) {
            importable.emplace(setting->key(), setting);
        }
    }
    std::map<std::string, DefaultsValue> accepted;
    std::optional<bool> master;
    std::vector<std::string> skipped;
    for (const auto& [key, text] : values) {
        if (key == TriggerEngine::kMasterKey) {
            master = parseBoolean(text);
            if (!master) {
                skipped.push_back(key);
            }
            continue;
        }
        auto setting = importable.find(key);
        auto value =
            setting == importable.end() ? std::nullopt : importedValue(*setting->second, text);
        if (value && setting->second->acceptsImport(*value)) {
            accepted.emplace(key, std::move(*value));
        } else {
            skipped.push_back(key);
        }
    }
    // In the order a full reload assigns them, so that their actions meet the same state.
    for (auto* setting : prefs.settings()) {
        if (auto it = accepted.find(setting->key()); it != accepted.end()) {
            setting->assignImport(it->second);
        }
    }
    if (master) {
        owners.engine().setMasterEnabled(*master);
    }
    if (!skipped.empty()) {
        std::string names;
        for (const auto& key : skipped) {
            names += (names.empty() ? "" : ", ") + key;
        }
        logger().notice("Settings import skipped " + std::to_string(skipped.size()) +
                        " preference value(s) it may not set or that do not fit: " + names);
    }
    return static_cast<int>(accepted.size()) + (master ? 1 : 0);
}

// The text with a full stop, unless it ends a sentence already.
std::string sentence(std::string text) {
    if (!text.empty() && text.back() != '.' && text.back() != '!' && text.back() != '?') {
        text += '.';
    }
    return text;
}

void tell(const Told& told, std::string text, bool failed) {
    if (told) {
        told(Outcome{std::move(text), failed});
    }
}

void tellNothingTaken(const Told& told, const std::string& why) {
    tell(told, "Nothing was imported. " + sentence(why), true);
}

std::string normalizedAddress(std::string_view address) {
    std::string out;
    out.reserve(address.size());
    for (char c : address) {
        out += c == '-' ? ':' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

void showAlert(const std::string& message, const std::string& informative = {}) {
    ui::AlertContent content;
    content.style = ui::AlertStyle::warning;
    content.messageText = localized(message);
    content.informativeText = informative;
    content.buttons = {localized("OK")};
    ui::UiHost::current().makeAlert(std::move(content))->runModal();
}

// Runs slow work (a key derivation) on a worker queue of its own and hands its result to
// `done` on the main loop, where the queue is also let go.
template <class T>
void offMainThread(std::function<T()> work, std::function<void(T)> done) {
    auto queue = std::make_shared<std::shared_ptr<SerialQueue>>(
        RunLoop::main().makeSerialQueue("orvel.settings-key"));
    (*queue)->post([work = std::move(work), done = std::move(done), queue] {
        T result = work();
        RunLoop::main().async([done, result = std::move(result), queue] {
            queue->reset();
            done(result);
        });
    });
}

Result<Data> readSettingsFile(const std::string& path) {
    auto bytes = readFile(path, kMaxFileSize);
    if (!bytes && !bytes.error().tooLarge.empty()) {
        return Error{"The file is too large for a settings file (" + bytes.error().tooLarge + ")."};
    }
    if (!bytes) {
        return Error{bytes.error().message};
    }
    return std::move(*bytes);
}

// The save panel's accessory: the switch and the passphrase field.
class ExportAccessory final : public ui::ViewComponent {
  public:
    ui::View body() override {
        using namespace ui;
        Binding<bool> encrypt{[this] { return encrypt_(); },
                              [this](const bool& on) { encrypt_ = on; }};
        Binding<std::string> passphrase{[this] { return passphrase_(); },
                                        [this](const std::string& text) { passphrase_ = text; }};
        return VStack(HAlign::leading, std::nullopt,
                      {Toggle("Encrypt with a passphrase", encrypt),
                       SecureField("Passphrase", passphrase).frame(220, 24)})
            .padding(8)
            .frame(260);
    }

    bool encrypt() const { return encrypt_(); }
    const std::string& passphrase() const { return passphrase_(); }

  private:
    Published<bool> encrypt_{*this, false};
    Published<std::string> passphrase_{*this, std::string()};
};

void writeExport(const std::string& path, const Result<Data>& bytes, const Told& told) {
    if (!bytes) {
        logger().error("Settings export failed: " + bytes.error().message);
        showAlert("The settings could not be exported.", bytes.error().message);
        tell(told, "Nothing was saved. " + sentence(bytes.error().message), true);
        return;
    }
    auto written = writeFileAtomically(path, *bytes);
    if (!written) {
        logger().error("Settings export could not write " + path + ": " + written.error().message);
        showAlert("The settings file could not be written.", written.error().message);
        tell(told, "Nothing was saved. " + sentence(written.error().message), true);
        return;
    }
    logger().info("Settings exported to " + path);
    tell(told, "Saved to " + path + ".", false);
}

void showImportError(ImportError error, const Told& told) {
    logger().notice("Settings import refused: " + description(error));
    showAlert(description(error));
    tellNothingTaken(told, description(error));
}

void tellImported(const std::string& path, const Result<ImportResult, ImportError>& imported,
                  const Told& told) {
    if (!imported) {
        showImportError(imported.error(), told);
        return;
    }
    const std::string report = importReport(*imported);
    logger().info("Settings imported from " + path + ": " + report);
    tell(told, report, false);
}

}  // namespace

std::vector<std::string> exportedPreferenceKeys(Preferences& prefs) {
    std::vector<std::string> keys;
    for (const auto* setting : prefs.settings()) {
        if (setting->importable()) {
            keys.push_back(setting->key());
        }
    }
    const auto& unowned = unownedPreferenceKeys();
    keys.insert(keys.end(), unowned.begin(), unowned.end());
    return keys;
}

std::string importSummary(const ImportResult& result) {
    const std::int64_t rules = result.rulesInstalled, off = result.unavailable;
    std::string text = localizedPlural("%lld rule", "%lld rules", rules, {rules});
    if (off > 0) {
        text = localizedFormat("%1$@ \u00B7 %2$lld unavailable on this computer", {text, off});
    }
    return text;
}

std::string importReport(const ImportResult& result) {
    const std::int64_t rules = result.rulesInstalled, drives = result.drivesApplied,
                       settings = result.settingsApplied, off = result.unavailable;
    std::string text =
        localizedFormat("Imported %1$@, %2$@ and %3$@.",
                        {localizedPlural("%lld rule", "%lld rules", rules, {rules}),
                         localizedPlural("%lld drive", "%lld drives", drives, {drives}),
                         localizedPlural("%lld setting", "%lld settings", settings, {settings})});
    if (off > 0) {
        text +=
            " " + localizedPlural(
                      "%lld rule is off: its Bluetooth device is not paired with this computer.",
                      "%lld rules are off: their Bluetooth devices are not paired with this "
                      "computer.",
                      off, {off});
    }
    return text;
}

bool sameBluetoothAddress(std::string_view a, std::string_view b) {
    return normalizedAddress(a) == normalizedAddress(b);
}

ExportFile exportDocument(const Owners& owners) {
    ExportFile file;
    auto& engine = owners.engine();
    file.rules = engine.rules();
    file.priority = engine.priority();
    auto& drives = owners.drives();
    file.drives = drives.drives();
    file.globalDriveInterval = drives.globalIntervalSeconds();
    // The preferences register their defaults when they are first made.
    const auto& defaults = owners.prefs().defaults();
    for (const auto& key : exportedPreferenceKeys(owners.prefs())) {
        if (auto value = defaults.object(key)) {
            if (auto text = preferenceText(*value)) {
                file.preferences[key] = *text;
            }
        }
    }
    return file;
}

Result<Data> exportData(const Owners& owners, const std::optional<std::string>& passphrase) {
    return encodeFile(exportDocument(owners), passphrase);
}

ImportResult applyDocument(const Owners& owners, const ExportFile& document) {
    std::set<std::string> paired;
    for (const auto& device : owners.bluetooth().pairedDevices()) {
        paired.insert(normalizedAddress(device.address));
    }
    ImportResult result;
    std::vector<TriggerRule> rules;
    rules.reserve(document.rules.size());
    for (const auto& rule : document.rules) {
        TriggerRule copy = rule;
        if (rule.source == TriggerSource::bluetooth && rule.btAddress &&
            !paired.count(normalizedAddress(*rule.btAddress))) {
            copy.enabled = false;
            copy.unavailableHere = true;
            ++result.unavailable;
        }
        rules.push_back(std::move(copy));
    }
    result.rulesInstalled = static_cast<int>(rules.size());
    owners.engine().replaceAll(std::move(rules), document.priority);

    auto& drives = owners.drives();
    const auto inRange = [](std::int64_t seconds) {
        return seconds >= kMinDriveInterval && seconds <= kMaxDriveInterval;
    };
    if (inRange(document.globalDriveInterval)) {
        drives.globalIntervalSeconds = document.globalDriveInterval;
        ++result.settingsApplied;
    } else {
        logger().notice("Settings import kept the drive interval: " +
                        std::to_string(document.globalDriveInterval) +
                        " s is outside 15 to 86400 s");
    }
    std::set<std::string> known;
    for (const auto& drive : drives.drives()) {
        known.insert(drive.id);
    }
    for (const auto& drive : document.drives) {
        if (!known.count(drive.id)) {
            continue;
        }
        auto copy = drive;
        copy.offline = false;
        copy.lastRead.reset();
        if (copy.intervalOverride && !inRange(*copy.intervalOverride)) {
            copy.intervalOverride.reset();
        }
        drives.update(copy);
        ++result.drivesApplied;
    }

    result.settingsApplied += applyPreferences(owners, document.preferences);

    ActivityLog::add(ActivityEntry::make(ActivityEntry::Kind::info, localized("Settings imported"),
                                         importSummary(result)));
    return result;
}

Result<ImportResult, ImportError> importData(const Owners& owners, const Data& bytes,
                                             const std::optional<std::string>& passphrase) {
    auto document = decodeFile(bytes, passphrase);
    if (!document) {
        return document.error();
    }
    return applyDocument(owners, *document);
}

Result<ImportResult, ImportError> importDataWithKey(const Owners& owners, const Data& bytes,
                                                    const std::optional<Data>& key) {
    auto document = decodeFileWithKey(bytes, key);
    if (!document) {
        return document.error();
    }
    return applyDocument(owners, *document);
}

void runExportPanel(const Owners& owners, Told told) {
    auto accessory = std::make_shared<ExportAccessory>();
    ui::SavePanelOptions options;
    options.title = localized("Export Orvel Settings");
    options.nameFieldValue = "Orvel Settings.orvelconfig";
    options.allowedExtensions = {"orvelconfig", "json"};
    options.accessory = accessory;
    const auto path = ui::UiHost::current().runSavePanel(options);
    if (!path || path->empty()) {
        return;
    }
    if (!accessory->encrypt()) {
        writeExport(*path, encodeFileWithKey(exportDocument(owners), std::nullopt), told);
        return;
    }
    const std::string passphrase = accessory->passphrase();
    if (passphrase.empty()) {
        logger().notice("Settings export stopped: encryption was asked for without a passphrase");
        showAlert("Enter a passphrase",
                  localized("\u201CEncrypt with a passphrase\u201D is ticked but the passphrase "
                            "is empty. Nothing was written."));
        tell(told,
             "Nothing was saved. \u201CEncrypt with a passphrase\u201D is ticked but the "
             "passphrase is empty.",
             true);
        return;
    }
    // The document is taken now, as the user saw it; only the key is made on the worker.
    offMainThread<Result<Data>>(
        [document = exportDocument(owners), passphrase] {
            auto key = makeSealingKey(passphrase);
            if (!key) {
                return Result<Data>(key.error());
            }
            return encodeFileWithKey(document, *key);
        },
        [path = *path, told](const Result<Data>& bytes) { writeExport(path, bytes, told); });
}

void runImportPanel(const Owners& owners, Told told) {
    ui::OpenPanelOptions options;
    options.title = localized("Import Orvel Settings");
    options.canChooseFiles = true;
    options.canChooseDirectories = false;
    options.allowsMultipleSelection = false;
    const auto paths = ui::UiHost::current().runOpenPanel(options);
    if (!paths || paths->empty()) {
        return;
    }
    const std::string path = paths->front();
    auto bytes = readSettingsFile(path);
    if (!bytes) {
        logger().error("Settings import could not read " + path + ": " + bytes.error().message);
        showAlert("The file could not be read.", bytes.error().message);
        tellNothingTaken(told, bytes.error().message);
        return;
    }
    auto derivation = sealedKeyDerivation(*bytes);
    if (!derivation) {
        showImportError(derivation.error(), told);
        return;
    }
    if (!*derivation) {
        tellImported(path, importDataWithKey(owners, *bytes, std::nullopt), told);
        return;
    }

    ui::AlertContent prompt;
    prompt.style = ui::AlertStyle::informational;
    prompt.messageText = localized("Encrypted settings file");
    prompt.informativeText = localized("Enter the passphrase it was exported with.");
    prompt.buttons = {localized("Import"), localized("Cancel")};
    prompt.secureFieldPlaceholder = "";
    auto alert = ui::UiHost::current().makeAlert(std::move(prompt));
    if (alert->runModal() != ui::kAlertFirstButtonReturn) {
        return;
    }
    const std::string passphrase = alert->secureText();
    if (passphrase.empty()) {
        showImportError(ImportError::needsPassphrase, told);
        return;
    }
    offMainThread<Result<Data>>(
        [derivation = **derivation, passphrase] { return deriveKey(passphrase, derivation); },
        [owners, path, told, file = std::move(*bytes)](const Result<Data>& key) {
            if (!key) {
                logger().error("Settings import could not derive the key: " + key.error().message);
                showImportError(ImportError::wrongPassphrase, told);
                return;
            }
            tellImported(path, importDataWithKey(owners, file, *key), told);
        });
}

}  // namespace orvel::SettingsTransfer
