#include "settings/SettingsFile.h"

#include "foundation/Json.h"
#include "support/SettingsFixture.h"

#include <gtest/gtest.h>

#include <functional>

namespace orvel {
namespace {

using namespace SettingsTransfer;

ExportFile goldenDocument() {
    ExportFile file;
    file.rules = test::goldenRules();
    file.priority = {TriggerSource::schedule, TriggerSource::app};
    file.drives = test::goldenDrives();
    file.globalDriveInterval = 300;
    file.preferences = {{"showTimer", "1"}, {"engine", "caffeinate"}, {"custom/key", "a/b"}};
    return file;
}

// A derivation cheap enough for many cases; the reader takes any allowed cost.
KeyDerivation cheap(Data salt = Data(16, 7)) {
    KeyDerivation derivation;
    derivation.kind = KeyDerivation::Kind::scrypt;
    derivation.cost = {16, 1, 1};
    derivation.salt = std::move(salt);
    return derivation;
}

SealingKey cheapKey(const std::string& passphrase) {
    auto derivation = cheap();
    return {derivation, *deriveKey(passphrase, derivation)};
}

Json plainJson() {
    return *parseJson(*encodeDocument(goldenDocument()));
}

Data bytesOf(const Json& json) {
    return dataFromString(json.dump(3));
}

TEST(SettingsFileTest, APlainFileReadsBackWhateverItsOrderAndWhitespace) {
    const ExportFile original = goldenDocument();
    auto text = encodeDocument(original);
    ASSERT_TRUE(text.ok());
    // Reversed member order at the top level, other indentation.
    const Json json = *parseJson(*text);
    Json reversed = Json::object();
    std::vector<std::string> keys;
    for (auto it = json.begin(); it != json.end(); ++it) {
        keys.insert(keys.begin(), it.key());
    }
    for (const auto& key : keys) {
        reversed[key] = json[key];
    }
    for (const std::string& variant : {*text, reversed.dump(), reversed.dump(7)}) {
        auto back = decodeFile(dataFromString(variant), std::nullopt);
        ASSERT_TRUE(back.ok());
        EXPECT_EQ(*back, original);
    }
}

TEST(SettingsFileTest, TheWriterSortsKeysEscapesSlashesAndWritesDatesAsIso8601) {
    auto text = encodeDocument(goldenDocument());
    ASSERT_TRUE(text.ok());
    EXPECT_NE(text->find(R"("path": "\/media\/user\/Backup\/Photos\/2026\/")"), std::string::npos);
    EXPECT_NE(text->find(R"("custom\/key": "a\/b")"), std::string::npos);
    EXPECT_NE(text->find(R"("schedDate": "2026-12-08T09:00:00Z")"), std::string::npos);
    EXPECT_NE(text->find(R"("lastRead": "2026-12-07T21:15:00Z")"), std::string::npos);
    EXPECT_EQ(text->find('/'), text->find("\\/") + 1);
    // Sorted at every level: each object's keys come back in byte order.
    std::function<void(const Json&)> check = [&](const Json& json) {
        std::string previous;
        for (auto it = json.begin(); it != json.end(); ++it) {
            if (json.is_object()) {
                EXPECT_LT(previous, it.key());
                previous = it.key();
            }
            if (it->is_structured()) {
                check(*it);
            }
        }
    };
    check(*parseJson(*text));
    EXPECT_NE(text->find("\n  \"drives\""), std::string::npos) << "pretty-printed";
}

TEST(SettingsFileTest, TheDocumentReaderIsStrict) {
    struct Case {
        const char* name;
        std::function<void(Json&)> change;
        bool reads;
    };
    const std::vector<Case> cases = {
        {"as written", [](Json&) {}, true},
        {"extra member", [](Json& j) { j["extra"] = 1; }, true},
        {"other version", [](Json& j) { j["version"] = "9.9"; }, true},
        {"encrypted true", [](Json& j) { j["encrypted"] = true; }, true},
        {"no format", [](Json& j) { j.erase("format"); }, false},
        {"no version", [](Json& j) { j.erase("version"); }, false},
        {"no encrypted", [](Json& j) { j.erase("encrypted"); }, false},
        {"no rules", [](Json& j) { j.erase("rules"); }, false},
        {"no priority", [](Json& j) { j.erase("priority"); }, false},
        {"no drives", [](Json& j) { j.erase("drives"); }, false},
        {"no interval", [](Json& j) { j.erase("globalDriveInterval"); }, false},
        {"no preferences", [](Json& j) { j.erase("preferences"); }, false},
        {"envelope's format", [](Json& j) { j["format"] = "orvel-settings-encrypted"; }, false},
        {"format in other case", [](Json& j) { j["format"] = "Orvel-Settings"; }, false},
        {"version a number", [](Json& j) { j["version"] = 1.5; }, false},
        {"encrypted a text", [](Json& j) { j["encrypted"] = "false"; }, false},
        {"interval a text", [](Json& j) { j["globalDriveInterval"] = "300"; }, false},
        {"interval a fraction", [](Json& j) { j["globalDriveInterval"] = 300.5; }, false},
        {"rules an object", [](Json& j) { j["rules"] = Json::object(); }, false},
        {"unknown source", [](Json& j) { j["priority"] = Json::array({"usb"}); }, false},
        {"preference a number", [](Json& j) { j["preferences"]["showTimer"] = 1; }, false},
        {"preference null", [](Json& j) { j["preferences"]["showTimer"] = nullptr; }, false},
        {"rule date a number", [](Json& j) { j["rules"][0]["schedDate"] = 818413200; }, false},
        {"rule date with fraction",
         [](Json& j) { j["rules"][0]["schedDate"] = "2026-12-08T09:00:00.5Z"; }, false},
        {"rule date with offset",
         [](Json& j) { j["rules"][0]["schedDate"] = "2026-12-08T10:00:00+01:00"; }, true},
        {"rule date offset without colon",
         [](Json& j) { j["rules"][0]["schedDate"] = "2026-12-08T10:00:00+0100"; }, false},
        {"rule without name", [](Json& j) { j["rules"][0].erase("name"); }, false},
        {"drive date a number", [](Json& j) { j["drives"][0]["lastRead"] = 818413200.0; }, false},
        {"drive date not a date", [](Json& j) { j["drives"][0]["lastRead"] = "yesterday"; }, false},
        {"drive date null", [](Json& j) { j["drives"][0]["lastRead"] = nullptr; }, true},
        {"drive without path", [](Json& j) { j["drives"][0].erase("path"); }, false},
        {"drive a text", [](Json& j) { j["drives"][0] = "drive"; }, false},
        {"not an object", [](Json& j) { j = Json::array(); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Json json = plainJson();
        c.change(json);
        auto result = decodeFile(bytesOf(json), std::string("ignored"));
        EXPECT_EQ(result.ok(), c.reads);
        if (!result.ok()) {
            EXPECT_EQ(result.error(), ImportError::badFormat);
        }
    }
    for (const char* text : {"", "not json", "{", "null", "\"orvel-settings\""}) {
        auto result = decodeFile(dataFromString(text), std::nullopt);
        ASSERT_FALSE(result.ok()) << text;
        EXPECT_EQ(result.error(), ImportError::badFormat) << text;
    }
}

TEST(SettingsFileTest, ErrorsSayWhatHappenedInWords) {
    EXPECT_EQ(description(ImportError::badFormat), "This is not an Orvel settings file.");
    EXPECT_EQ(description(ImportError::needsPassphrase),
              "This file is encrypted \u2014 enter its passphrase.");
    EXPECT_EQ(description(ImportError::wrongPassphrase),
              "That passphrase does not decrypt this file.");
}

TEST(SettingsFileTest, AnEmptyPassphraseWritesThePlainDocument) {
    for (const auto& passphrase : {std::optional<std::string>(), std::optional<std::string>("")}) {
        auto bytes = encodeFile(goldenDocument(), passphrase);
        ASSERT_TRUE(bytes.ok());
        EXPECT_EQ(stringFromData(*bytes), *encodeDocument(goldenDocument()));
    }
}

TEST(SettingsFileTest, NewSealedFilesCarryTheirScryptParametersAndOpenOnlyWithThePassphrase) {
    auto bytes = encodeFile(goldenDocument(), std::string("correct horse"));
    ASSERT_TRUE(bytes.ok());
    const Json envelope = *parseJson(stringFromData(*bytes));
    EXPECT_EQ(envelope["format"], "orvel-settings-encrypted");
    EXPECT_EQ(envelope["version"], "2");
    EXPECT_EQ(envelope["kdf"]["name"], "scrypt");
    EXPECT_EQ(envelope["kdf"]["N"], 131072);
    EXPECT_EQ(envelope["kdf"]["r"], 8);
    EXPECT_EQ(envelope["kdf"]["p"], 1);
    Data salt;
    ASSERT_TRUE(base64Decode(envelope["kdf"]["salt"].get<std::string>(), salt));
    EXPECT_EQ(salt.size(), 16u);
    EXPECT_EQ(stringFromData(*bytes).find("Dentist"), std::string::npos);

    auto opened = decodeFile(*bytes, std::string("correct horse"));
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(*opened, goldenDocument());
    auto wrong = decodeFile(*bytes, std::string("Correct horse"));
    ASSERT_FALSE(wrong.ok());
    EXPECT_EQ(wrong.error(), ImportError::wrongPassphrase);
}

TEST(SettingsFileTest, SealingTwiceGivesDifferentFilesThatBothOpen) {
    auto a = encodeFileWithKey(goldenDocument(), cheapKey("pw"));
    auto b = encodeFileWithKey(goldenDocument(), cheapKey("pw"));
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_NE(*a, *b);
    for (const auto& bytes : {*a, *b}) {
        auto opened = decodeFile(bytes, std::string("pw"));
        ASSERT_TRUE(opened.ok());
        EXPECT_EQ(*opened, goldenDocument());
    }
}

TEST(SettingsFileTest, SealedFilesAnswerEachFaultWithItsError) {
    const Data sealed = *encodeFileWithKey(goldenDocument(), cheapKey("pw"));
    const Json envelope = *parseJson(stringFromData(sealed));
    Data box;
    ASSERT_TRUE(base64Decode(envelope["sealed"].get<std::string>(), box));
    auto withBox = [&](Data changed) {
        Json json = envelope;
        json["sealed"] = base64Encode(changed);
        return bytesOf(json);
    };
    auto flipped = [&](std::size_t at) {
        Data changed = box;
        changed[at] ^= 0x80;
        return withBox(changed);
    };
    auto changed = [&](std::function<void(Json&)> change) {
        Json json = envelope;
        change(json);
        return bytesOf(json);
    };
    // A document that is not a settings file, sealed soundly.
    SealingKey key = cheapKey("pw");
    Data nonce(12, 1);
    Data inner = *crypto::aesGcmSeal(key.key, nonce, dataFromString("{\"format\": 1}"));
    inner.insert(inner.begin(), nonce.begin(), nonce.end());

    struct Case {
        const char* name;
        Data bytes;
        std::optional<std::string> passphrase;
        ImportError error;
    };
    const std::vector<Case> cases = {
        {"no passphrase", sealed, std::nullopt, ImportError::needsPassphrase},
        {"empty passphrase", sealed, std::string(), ImportError::needsPassphrase},
        {"wrong passphrase", sealed, std::string("PW"), ImportError::wrongPassphrase},
        {"tampered nonce", flipped(0), std::string("pw"), ImportError::wrongPassphrase},
        {"tampered ciphertext", flipped(20), std::string("pw"), ImportError::wrongPassphrase},
        {"tampered tag", flipped(box.size() - 1), std::string("pw"), ImportError::wrongPassphrase},
        {"tampered salt", changed([](Json& j) { j["kdf"]["salt"] = base64Encode(Data(16, 8)); }),
         std::string("pw"), ImportError::wrongPassphrase},
        {"27 bytes", withBox(Data(box.begin(), box.begin() + 27)), std::string("pw"),
         ImportError::wrongPassphrase},
        {"empty box", withBox({}), std::string("pw"), ImportError::wrongPassphrase},
        {"short box without passphrase", withBox({}), std::nullopt, ImportError::needsPassphrase},
        {"sealed not base64", changed([](Json& j) { j["sealed"] = "not base64!"; }),
         std::string("pw"), ImportError::badFormat},
        {"sealed a number", changed([](Json& j) { j["sealed"] = 5; }), std::string("pw"),
         ImportError::badFormat},
        {"opens to something else", withBox(inner), std::string("pw"), ImportError::badFormat},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = decodeFile(c.bytes, c.passphrase);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error(), c.error);
    }
}

TEST(SettingsFileTest, AnEnvelopeIsSealedWhateverItsFormatAndVersionSay) {
    const Data sealed = *encodeFileWithKey(goldenDocument(), cheapKey("pw"));
    Json json = *parseJson(stringFromData(sealed));
    json["format"] = "something-else";
    json["version"] = "0";
    auto result = decodeFile(bytesOf(json), std::nullopt);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), ImportError::needsPassphrase);
    auto opened = decodeFile(bytesOf(json), std::string("pw"));
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(*opened, goldenDocument());
}

TEST(SettingsFileTest, KeyDerivationsAskingTooMuchOrMalformedAreRefusedBeforeAnyWork) {
    struct Case {
        const char* name;
        std::function<void(Json&)> change;
    };
    const std::vector<Case> cases = {
        {"N 2^30", [](Json& k) { k["N"] = 1u << 30; }},
        {"N 2^18 with r 8: 256 MiB and more", [](Json& k) { k["N"] = 1u << 18; }},
        {"N 2^64 - 1", [](Json& k) { k["N"] = UINT64_MAX; }},
        {"N not a power of two", [](Json& k) { k["N"] = 1000; }},
        {"N 1", [](Json& k) { k["N"] = 1; }},
        {"N 0", [](Json& k) { k["N"] = 0; }},
        {"N negative", [](Json& k) { k["N"] = -16; }},
        {"N a fraction", [](Json& k) { k["N"] = 16.0; }},
        {"N a text", [](Json& k) { k["N"] = "16"; }},
        {"no N", [](Json& k) { k.erase("N"); }},
        {"r 0", [](Json& k) { k["r"] = 0; }},
        {"r huge", [](Json& k) { k["r"] = 1ull << 40; }},
        {"p 5", [](Json& k) { k["p"] = 5; }},
        {"p 0", [](Json& k) { k["p"] = 0; }},
        {"salt 15 bytes", [](Json& k) { k["salt"] = base64Encode(Data(15, 1)); }},
        {"salt 65 bytes", [](Json& k) { k["salt"] = base64Encode(Data(65, 1)); }},
        {"salt not base64", [](Json& k) { k["salt"] = "!!"; }},
        {"no salt", [](Json& k) { k.erase("salt"); }},
        {"pbkdf2", [](Json& k) { k["name"] = "pbkdf2"; }},
        {"no name", [](Json& k) { k.erase("name"); }},
        {"kdf a text", [](Json& k) { k = "scrypt"; }},
        {"kdf null", [](Json& k) { k = nullptr; }},
    };
    const Data sealed = *encodeFileWithKey(goldenDocument(), cheapKey("pw"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Json json = *parseJson(stringFromData(sealed));
        json["kdf"]["r"] = 8;
        c.change(json["kdf"]);
        for (const auto& passphrase :
             {std::optional<std::string>(), std::optional<std::string>("pw")}) {
            auto result = decodeFile(bytesOf(json), passphrase);
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error(), ImportError::badFormat);
        }
        EXPECT_FALSE(sealedKeyDerivation(bytesOf(json)).ok());
    }
    // The limits themselves are allowed.
    Json json = *parseJson(stringFromData(sealed));
    json["kdf"]["salt"] = base64Encode(Data(64, 1));
    json["kdf"]["p"] = 4;
    auto derivation = sealedKeyDerivation(bytesOf(json));
    ASSERT_TRUE(derivation.ok() && derivation->has_value());
    EXPECT_EQ((*derivation)->cost, (crypto::ScryptCost{16, 1, 4}));
}

TEST(SettingsFileTest, APassphraseGivenWithAPlainFileIsIgnored) {
    auto result = decodeFile(*encodeFile(goldenDocument(), std::nullopt), std::string("pw"));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(*result, goldenDocument());
}

TEST(SettingsFileTest, TheGoldenPlainFileReadsAndIsWrittenAgainByteForByte) {
    const Data golden = test::readSettingsData("plain.orvelconfig");
    auto file = decodeFile(golden, std::nullopt);
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file->rules, test::goldenRules());
    EXPECT_EQ(file->drives, test::goldenDrives());
    EXPECT_EQ(file->preferences.size(), 29u);
    EXPECT_EQ(stringFromData(*encodeFileWithKey(*file, std::nullopt)), stringFromData(golden));
}

TEST(SettingsFileTest, AnOldFormSealedFileOpensWithTheDigestOfItsPassphrase) {
    const Data sealed = test::readSettingsData("sealed-v1.orvelconfig");
    auto derivation = sealedKeyDerivation(sealed);
    ASSERT_TRUE(derivation.ok() && derivation->has_value());
    EXPECT_EQ((*derivation)->kind, KeyDerivation::Kind::sha256);
    auto file = decodeFile(sealed, std::string("orvel golden passphrase"));
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(*file, *decodeFile(test::readSettingsData("plain.orvelconfig"), std::nullopt));
    auto withKey = decodeFileWithKey(sealed, deriveKey("orvel golden passphrase"));
    EXPECT_TRUE(withKey.ok());
    // Whatever the envelope's version says, no kdf member means the digest.
    Json json = *parseJson(stringFromData(sealed));
    json["version"] = "2";
    EXPECT_TRUE(decodeFile(bytesOf(json), std::string("orvel golden passphrase")).ok());
}

TEST(SettingsFileTest, ANewFormFileWithFixedSaltAndNonceIsTheGoldenFileByteForByte) {
    const Data golden = test::readSettingsData("sealed-v2.orvelconfig");
    const Json envelope = *parseJson(stringFromData(golden));
    Data salt;
    Data box;
    ASSERT_TRUE(base64Decode(envelope["kdf"]["salt"].get<std::string>(), salt));
    ASSERT_TRUE(base64Decode(envelope["sealed"].get<std::string>(), box));
    auto key = makeSealingKey("orvel golden passphrase", salt);
    ASSERT_TRUE(key.ok());
    auto file = decodeFile(test::readSettingsData("plain.orvelconfig"), std::nullopt);
    ASSERT_TRUE(file.ok());
    auto bytes = encodeFileWithKey(*file, *key, Data(box.begin(), box.begin() + 12));
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(stringFromData(*bytes), stringFromData(golden));
    auto opened = decodeFileWithKey(golden, key->key);
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(*opened, *file);
}

}  // namespace
}  // namespace orvel
