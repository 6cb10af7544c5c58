#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Data.h"
#include "foundation/Result.h"
#include "settings/SettingsFile.h"

// Export and import of the settings file (the codec is in SettingsFile.h): gathering this
// machine's rules, priority, drives and preference values into a document, applying a read
// document through the services that own the data, and the panels and alerts the user works.
// Main thread only; key derivation runs on a worker queue.

namespace orvel {
class Bluetooth;
class DriveKeepAlive;
class Preferences;
class TriggerEngine;
}  // namespace orvel

namespace orvel::SettingsTransfer {

// The owners of what a file carries, and the paired devices an import checks its rules against.
// Reached only as a file is written or read, so a cancelled panel builds no service.
struct Owners {
    std::function<TriggerEngine&()> engine;
    std::function<DriveKeepAlive&()> drives;
    std::function<Preferences&()> prefs;
    std::function<Bluetooth&()> bluetooth;
};

// The preference keys a file carries: those of the settings an import may set, in table order,
// then the few keys no setting owns.
std::vector<std::string> exportedPreferenceKeys(Preferences& prefs);

struct ImportResult {
    int rulesInstalled = 0;
    int unavailable = 0;
    // The drives of the file this machine lists, and the setting values taken (the drive
    // interval and the triggers' master switch included).
    int drivesApplied = 0;
    int settingsApplied = 0;
    bool operator==(const ImportResult&) const = default;
};

// "<n> rules", then " · <u> unavailable on this computer" when some are.
std::string importSummary(const ImportResult& result);
// What the user is told: "Imported 4 rules, 2 drives and 12 settings.", each word made singular
// for one.
std::string importReport(const ImportResult& result);

// This machine's settings as a document.
ExportFile exportDocument(const Owners& owners);
// The file bytes, sealed when a passphrase is given (deriving inline).
Result<Data> exportData(const Owners& owners, const std::optional<std::string>& passphrase);

// Reads the file and applies it; nothing changes when it does not read.
Result<ImportResult, ImportError> importData(const Owners& owners, const Data& bytes,
                                             const std::optional<std::string>& passphrase);
// The same with a key already derived for the file's envelope.
Result<ImportResult, ImportError> importDataWithKey(const Owners& owners, const Data& bytes,
                                                    const std::optional<Data>& key);
// Applies a document that has been read: rules (unpaired Bluetooth devices made unavailable),
// the drive interval, the drives this machine lists, the accepted preference values, the
// activity entry.
ImportResult applyDocument(const Owners& owners, const ExportFile& document);

// Whether two Bluetooth addresses name the same device: case and ":" versus "-" do not count.
bool sameBluetoothAddress(std::string_view a, std::string_view b);

// Files larger than this are refused before they are read. A rule or a drive takes well under
// 1 KiB of the file, so thousands of them take a few MiB: a larger file is not an export.
inline constexpr std::uint64_t kMaxFileSize = 16ull << 20;

// What an export or import came to, in words for the line beside its buttons: where the file
// was saved, what was imported, or why nothing was. A cancelled panel or prompt tells nothing.
struct Outcome {
    std::string text;
    bool failed = false;
    bool operator==(const Outcome&) const = default;
};
using Told = std::function<void(const Outcome&)>;

// The save panel with its accessory (encrypt, passphrase), then the write. A sealed export
// derives its key on a worker and writes when it is back on the main loop, then tells `told`.
void runExportPanel(const Owners& owners, Told told = {});
// The open panel, the passphrase prompt for a sealed file (one try), then the import. A sealed
// file's key is derived on a worker; the import finishes on the main loop, then tells `told`.
void runImportPanel(const Owners& owners, Told told = {});

}  // namespace orvel::SettingsTransfer
