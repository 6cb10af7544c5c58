#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drives/DriveKeepAlive.h"
#include "foundation/Crypto.h"
#include "foundation/Data.h"
#include "foundation/Result.h"
#include "triggers/TriggerRule.h"

// The settings file: one JSON document that carries the trigger rules, the source priority, the
// drive list with its interval and a fixed list of preference values from one machine to
// another, plain or sealed with a passphrase inside a small JSON envelope.
//
// The codec is pure: nothing here touches a service, the platform or the run loop, so any thread
// may call it. Deriving a key from a passphrase takes a large part of a second on purpose;
// callers on the main thread derive on a worker and pass the key.

namespace orvel::SettingsTransfer {

inline constexpr const char* kFormat = "orvel-settings";
inline constexpr const char* kVersion = "1.5";
inline constexpr const char* kSealedFormat = "orvel-settings-encrypted";
// Sealed files with a "kdf" member; the older form has none and keys on a plain SHA-256.
inline constexpr const char* kSealedVersion = "2";

// The settings document.
struct ExportFile {
    std::string format = kFormat;
    std::string version = kVersion;
    bool encrypted = false;
    std::vector<TriggerRule> rules;
    std::vector<TriggerSource> priority;
    std::vector<DriveKeepAlive::Drive> drives;
    std::int64_t globalDriveInterval = DriveKeepAlive::kDefaultIntervalSeconds;
    // Preference keys to their values' text; a map, so that the file lists them sorted.
    std::map<std::string, std::string> preferences;

    bool operator==(const ExportFile&) const = default;
};

enum class ImportError { badFormat, needsPassphrase, wrongPassphrase };
// The words shown for each error.
std::string description(ImportError error);

// How the key of a sealed file is made from its passphrase.
struct KeyDerivation {
    enum class Kind { sha256, scrypt };
    Kind kind = Kind::sha256;
    crypto::ScryptCost cost;
    Data salt;

    // What new files use: N 2^17, r 8, p 1 (128 MiB) and 16 random bytes of salt.
    static constexpr crypto::ScryptCost kCost{131072, 8, 1};
    static constexpr std::size_t kSaltSize = 16;
    // The most a file may ask for: 256 MiB of scrypt memory, p up to 4, a salt of 16 to 64
    // bytes. Anything more is refused before any work.
    static constexpr std::uint64_t kMaxMemory = 256ull << 20;
    static constexpr std::uint32_t kMaxP = 4;
    static constexpr std::size_t kMinSalt = 16;
    static constexpr std::size_t kMaxSalt = 64;

    // scrypt with the cost above and a fresh salt (or this one).
    static Result<KeyDerivation> fresh(std::optional<Data> salt = std::nullopt);
    bool operator==(const KeyDerivation&) const = default;
};

// A derived key with how it was made, for sealing.
struct SealingKey {
    KeyDerivation derivation;
    Data key;
};

// The older form's key: the SHA-256 digest of the passphrase's UTF-8 bytes, as typed.
Data deriveKey(std::string_view passphrase);
// The key this derivation makes of the passphrase (32 bytes).
Result<Data> deriveKey(std::string_view passphrase, const KeyDerivation& derivation);
// A fresh scrypt derivation and its key (slow).
Result<SealingKey> makeSealingKey(std::string_view passphrase,
                                  std::optional<Data> salt = std::nullopt);

// The file bytes: the document's text, or, with a key, the envelope that seals it (under a fresh
// nonce unless one is given).
Result<Data> encodeFileWithKey(const ExportFile& file, const std::optional<SealingKey>& key,
                               const std::optional<Data>& nonce = std::nullopt);
// The same from a passphrase, deriving inline; an absent or empty passphrase writes plain text.
Result<Data> encodeFile(const ExportFile& file, const std::optional<std::string>& passphrase);

// How the file is sealed: nothing for a plain file (anything that is not an envelope),
// badFormat for an envelope whose "kdf" member is refused.
Result<std::optional<KeyDerivation>, ImportError> sealedKeyDerivation(const Data& bytes);

// Reads the file with a key derived for its envelope; a sealed file without a key needs a
// passphrase, a plain file ignores the key.
Result<ExportFile, ImportError> decodeFileWithKey(const Data& bytes,
                                                  const std::optional<Data>& key);
// The same from a passphrase, deriving inline; an absent or empty one needs a passphrase.
Result<ExportFile, ImportError> decodeFile(const Data& bytes,
                                           const std::optional<std::string>& passphrase);

// The document alone, as it lies inside the file or the envelope (for tests and the fuzzer).
Result<std::string> encodeDocument(const ExportFile& file);
Result<ExportFile, ImportError> decodeDocument(std::string_view text);

}  // namespace orvel::SettingsTransfer
