#include "settings/SettingsFile.h"

#include "foundation/Iso8601.h"
#include "foundation/Json.h"
#include "foundation/Localization.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace orvel::SettingsTransfer {

namespace {

using SortedJson = nlohmann::json;

constexpr std::size_t kBoxOverhead = crypto::kAesGcmNonceSize + crypto::kAesGcmTagSize;

// The same value with every object's members in sorted key order (std::map's byte order).
std::optional<SortedJson> sorted(const Json& json) {
    switch (json.type()) {
        case Json::value_t::object: {
            SortedJson out = SortedJson::object();
            for (auto it = json.begin(); it != json.end(); ++it) {
                auto value = sorted(it.value());
                if (!value) {
                    return std::nullopt;
                }
                out[it.key()] = std::move(*value);
            }
            return out;
        }
        case Json::value_t::array: {
            SortedJson out = SortedJson::array();
            for (const auto& element : json) {
                auto value = sorted(element);
                if (!value) {
                    return std::nullopt;
                }
                out.push_back(std::move(*value));
            }
            return out;
        }
        case Json::value_t::number_float:
            if (!std::isfinite(json.get<double>())) {
                return std::nullopt;
            }
            return SortedJson(json.get<double>());
        case Json::value_t::number_unsigned:
            return SortedJson(json.get<std::uint64_t>());
        case Json::value_t::number_integer:
            return SortedJson(json.get<std::int64_t>());
        case Json::value_t::string:
            return SortedJson(json.get<std::string>());
        case Json::value_t::boolean:
            return SortedJson(json.get<bool>());
        default:
            return SortedJson(nullptr);
    }
}

// Pretty-printed, keys sorted at every level, every "/" escaped. Outside strings JSON text has
// no "/", so escaping the dumped text escapes exactly the strings' slashes.
Result<std::string> fileText(const Json& json) {
    auto value = sorted(json);
    if (!value) {
        return Error{"The settings hold a number that is not finite."};
    }
    const std::string text = value->dump(2, ' ', false, SortedJson::error_handler_t::replace);
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '/') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

Json driveToFile(const DriveKeepAlive::Drive& drive) {
    Json json = drive.toJson();
    if (drive.lastRead) {
        json["lastRead"] = iso8601Text(*drive.lastRead);
    }
    return json;
}

// The drive's own form takes its last read as seconds; the file holds ISO 8601 text.
Result<DriveKeepAlive::Drive> driveFromFile(const Json& json) {
    if (!json.is_object()) {
        return Error{"a drive is not an object"};
    }
    auto lastRead = json.find("lastRead");
    if (lastRead == json.end() || lastRead->is_null()) {
        return DriveKeepAlive::Drive::fromJson(json);
    }
    if (!lastRead->is_string()) {
        return Error{"a drive's lastRead is not ISO 8601 text"};
    }
    auto date = parseIso8601(lastRead->get_ref<const std::string&>());
    if (!date) {
        return Error{"a drive's lastRead is not ISO 8601 text"};
    }
    Json copy = json;
    copy["lastRead"] = date->secondsSinceReferenceDate;
    return DriveKeepAlive::Drive::fromJson(copy);
}

struct Envelope {
    KeyDerivation derivation;
    Data box;
};

std::optional<std::uint64_t> positiveInteger(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number_unsigned()) {
        return std::nullopt;
    }
    const auto value = it->get<std::uint64_t>();
    return value > 0 ? std::optional(value) : std::nullopt;
}

// The "kdf" member, or nothing when it asks for what this reader will not do.
std::optional<KeyDerivation> readKdf(const Json& kdf) {
    if (!kdf.is_object()) {
        return std::nullopt;
    }
    auto name = kdf.find("name");
    auto saltText = kdf.find("salt");
    if (name == kdf.end() || !name->is_string() || *name != "scrypt" || saltText == kdf.end() ||
        !saltText->is_string()) {
        return std::nullopt;
    }
    const auto n = positiveInteger(kdf, "N");
    const auto r = positiveInteger(kdf, "r");
    const auto p = positiveInteger(kdf, "p");
    if (!n || !r || !p || *n < 2 || (*n & (*n - 1)) != 0 || *p > KeyDerivation::kMaxP) {
        return std::nullopt;
    }
    // 128 · r · (N + p) bytes for V and B together, checked without overflow.
    const std::uint64_t units = KeyDerivation::kMaxMemory / 128;
    if (*r > units || *n + *p > units / *r) {
        return std::nullopt;
    }
    KeyDerivation derivation;
    derivation.kind = KeyDerivation::Kind::scrypt;
    derivation.cost = {*n, static_cast<std::uint32_t>(*r), static_cast<std::uint32_t>(*p)};
    if (!base64Decode(saltText->get_ref<const std::string&>(), derivation.salt) ||
        derivation.salt.size() < KeyDerivation::kMinSalt ||
        derivation.salt.size() > KeyDerivation::kMaxSalt) {
        return std::nullopt;
    }
    return derivation;
}

// The envelope of a sealed file: nothing when the bytes are not one, badFormat when its key
// derivation is refused.
Result<std::optional<Envelope>, ImportError> readEnvelope(const Data& bytes) {
    const auto json =
        parseJson(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (!json || !json->is_object()) {
        return std::optional<Envelope>();
    }
    auto format = json->find("format");
    auto version = json->find("version");
    auto sealed = json->find("sealed");
    if (format == json->end() || !format->is_string() || version == json->end() ||
        !version->is_string() || sealed == json->end() || !sealed->is_string()) {
        return std::optional<Envelope>();
    }
    Envelope envelope;
    if (!base64Decode(sealed->get_ref<const std::string&>(), envelope.box)) {
        return std::optional<Envelope>();
    }
    if (auto kdf = json->find("kdf"); kdf != json->end()) {
        auto derivation = readKdf(*kdf);
        if (!derivation) {
            return ImportError::badFormat;
        }
        envelope.derivation = std::move(*derivation);
    }
    return std::optional<Envelope>(std::move(envelope));
}

Result<ExportFile, ImportError> openEnvelope(const Envelope& envelope, const Data& key) {
    if (envelope.box.size() < kBoxOverhead) {
        return ImportError::wrongPassphrase;
    }
    const Data nonce(envelope.box.begin(), envelope.box.begin() + crypto::kAesGcmNonceSize);
    const Data rest(envelope.box.begin() + crypto::kAesGcmNonceSize, envelope.box.end());
    auto opened = crypto::aesGcmOpen(key, nonce, rest);
    if (!opened) {
        return ImportError::wrongPassphrase;
    }
    return decodeDocument(
        std::string_view(reinterpret_cast<const char*>(opened->data()), opened->size()));
}

std::string_view textOf(const Data& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

std::string description(ImportError error) {
    switch (error) {
        case ImportError::badFormat:
            return textKey("This is not an Orvel settings file.");
        case ImportError::needsPassphrase:
            return textKey("This file is encrypted \u2014 enter its passphrase.");
        case ImportError::wrongPassphrase:
            return textKey("That passphrase does not decrypt this file.");
    }
    return {};
}

Result<KeyDerivation> KeyDerivation::fresh(std::optional<Data> salt) {
    KeyDerivation derivation;
    derivation.kind = Kind::scrypt;
    derivation.cost = kCost;
    if (salt) {
        derivation.salt = std::move(*salt);
    } else {
        auto random = crypto::randomBytes(kSaltSize);
        if (!random) {
            return random.error();
        }
        derivation.salt = std::move(*random);
    }
    return derivation;
}

Data deriveKey(std::string_view passphrase) {
    return crypto::sha256(passphrase);
}

Result<Data> deriveKey(std::string_view passphrase, const KeyDerivation& derivation) {
    if (derivation.kind == KeyDerivation::Kind::sha256) {
        return deriveKey(passphrase);
    }
    return crypto::scrypt(passphrase, derivation.salt, derivation.cost, crypto::kAesGcmKeySize);
}

Result<SealingKey> makeSealingKey(std::string_view passphrase, std::optional<Data> salt) {
    auto derivation = KeyDerivation::fresh(std::move(salt));
    if (!derivation) {
        return derivation.error();
    }
    auto key = deriveKey(passphrase, *derivation);
    if (!key) {
        return key.error();
    }
    return SealingKey{std::move(*derivation), std::move(*key)};
}

Result<std::string> encodeDocument(const ExportFile& file) {
    Json json = Json::object();
    json["format"] = file.format;
    json["version"] = file.version;
    json["encrypted"] = file.encrypted;
    json["rules"] = TriggerRule::listToJson(file.rules, RuleDateForm::iso8601);
    Json priority = Json::array();
    for (TriggerSource source : file.priority) {
        priority.push_back(std::string(rawValue(source)));
    }
    json["priority"] = std::move(priority);
    Json drives = Json::array();
    for (const auto& drive : file.drives) {
        drives.push_back(driveToFile(drive));
    }
    json["drives"] = std::move(drives);
    json["globalDriveInterval"] = file.globalDriveInterval;
    Json preferences = Json::object();
    for (const auto& [key, value] : file.preferences) {
        preferences[key] = value;
    }
    json["preferences"] = std::move(preferences);
    return fileText(json);
}

Result<ExportFile, ImportError> decodeDocument(std::string_view text) {
    const auto json = parseJson(text);
    if (!json || !json->is_object()) {
        return ImportError::badFormat;
    }
    JsonReader reader(*json, "settings file");
    ExportFile file;
    file.format = reader.string("format");
    file.version = reader.string("version");
    file.encrypted = reader.boolean("encrypted");
    const Json* rules = reader.required("rules");
    const Json* priority = reader.required("priority");
    const Json* drives = reader.required("drives");
    file.globalDriveInterval = reader.integer("globalDriveInterval");
    const Json* preferences = reader.required("preferences");
    if (!reader.ok() || !rules->is_array() || !priority->is_array() || !drives->is_array() ||
        !preferences->is_object()) {
        return ImportError::badFormat;
    }
    auto ruleList = TriggerRule::listFromJson(*rules, RuleDateForm::iso8601);
    if (!ruleList) {
        return ImportError::badFormat;
    }
    file.rules = std::move(*ruleList);
    for (const auto& element : *priority) {
        if (!element.is_string()) {
            return ImportError::badFormat;
        }
        auto source = fromRaw<TriggerSource>(element.get_ref<const std::string&>());
        if (!source) {
            return ImportError::badFormat;
        }
        file.priority.push_back(*source);
    }
    for (const auto& element : *drives) {
        auto drive = driveFromFile(element);
        if (!drive) {
            return ImportError::badFormat;
        }
        file.drives.push_back(std::move(*drive));
    }
    for (auto it = preferences->begin(); it != preferences->end(); ++it) {
        if (!it->is_string()) {
            return ImportError::badFormat;
        }
        file.preferences[it.key()] = it->get<std::string>();
    }
    if (file.format != kFormat) {
        return ImportError::badFormat;
    }
    return file;
}

Result<Data> encodeFileWithKey(const ExportFile& file, const std::optional<SealingKey>& key,
                               const std::optional<Data>& nonce) {
    auto document = encodeDocument(file);
    if (!document) {
        return document.error();
    }
    if (!key) {
        return dataFromString(*document);
    }
    Data usedNonce;
    if (nonce) {
        usedNonce = *nonce;
    } else {
        auto random = crypto::randomBytes(crypto::kAesGcmNonceSize);
        if (!random) {
            return random.error();
        }
        usedNonce = std::move(*random);
    }
    auto sealed = crypto::aesGcmSeal(key->key, usedNonce, dataFromString(*document));
    if (!sealed) {
        return sealed.error();
    }
    Data box = usedNonce;
    box.insert(box.end(), sealed->begin(), sealed->end());

    Json envelope = Json::object();
    envelope["format"] = kSealedFormat;
    if (key->derivation.kind == KeyDerivation::Kind::scrypt) {
        Json kdf = Json::object();
        kdf["name"] = "scrypt";
        kdf["N"] = key->derivation.cost.N;
        kdf["r"] = key->derivation.cost.r;
        kdf["p"] = key->derivation.cost.p;
        kdf["salt"] = base64Encode(key->derivation.salt);
        envelope["kdf"] = std::move(kdf);
        envelope["version"] = kSealedVersion;
    } else {
        envelope["version"] = kVersion;
    }
    envelope["sealed"] = base64Encode(box);
    auto text = fileText(envelope);
    if (!text) {
        return text.error();
    }
    return dataFromString(*text);
}

Result<Data> encodeFile(const ExportFile& file, const std::optional<std::string>& passphrase) {
    if (!passphrase || passphrase->empty()) {
        return encodeFileWithKey(file, std::nullopt);
    }
    auto key = makeSealingKey(*passphrase);
    if (!key) {
        return key.error();
    }
    return encodeFileWithKey(file, *key);
}

Result<std::optional<KeyDerivation>, ImportError> sealedKeyDerivation(const Data& bytes) {
    auto envelope = readEnvelope(bytes);
    if (!envelope) {
        return envelope.error();
    }
    if (!*envelope) {
        return std::optional<KeyDerivation>();
    }
    return std::optional<KeyDerivation>((*envelope)->derivation);
}

Result<ExportFile, ImportError> decodeFileWithKey(const Data& bytes,
                                                  const std::optional<Data>& key) {
    auto envelope = readEnvelope(bytes);
    if (!envelope) {
        return envelope.error();
    }
    if (!*envelope) {
        return decodeDocument(textOf(bytes));
    }
    if (!key) {
        return ImportError::needsPassphrase;
    }
    return openEnvelope(**envelope, *key);
}

Result<ExportFile, ImportError> decodeFile(const Data& bytes,
                                           const std::optional<std::string>& passphrase) {
    auto envelope = readEnvelope(bytes);
    if (!envelope) {
        return envelope.error();
    }
    if (!*envelope) {
        return decodeDocument(textOf(bytes));
    }
    if (!passphrase || passphrase->empty()) {
        return ImportError::needsPassphrase;
    }
    // Too short to hold a nonce and a tag: no key opens it, so none is derived.
    if ((*envelope)->box.size() < kBoxOverhead) {
        return ImportError::wrongPassphrase;
    }
    auto key = deriveKey(*passphrase, (*envelope)->derivation);
    if (!key) {
        return ImportError::wrongPassphrase;
    }
    return openEnvelope(**envelope, *key);
}

}  // namespace orvel::SettingsTransfer
