#include "settings/SettingsFile.h"

#include "foundation/Json.h"
#include "support/SettingsFixture.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace orvel {
namespace {

using namespace SettingsTransfer;

struct Seed {
    const char* name;
    Data bytes;
    std::optional<Data> key;  // the key that opens it, for sealed seeds
};

// Every member of every object, as a path of keys and indices.
void collectMembers(const Json& json, std::vector<Json::json_pointer>& out, Json::json_pointer at) {
    if (json.is_object()) {
        for (auto it = json.begin(); it != json.end(); ++it) {
            out.push_back(at / it.key());
            collectMembers(*it, out, at / it.key());
        }
    } else if (json.is_array()) {
        for (std::size_t i = 0; i < json.size(); ++i) {
            collectMembers(json[i], out, at / i);
        }
    }
}

Data withoutAMember(const Data& bytes, std::mt19937& random) {
    auto json = parseJson(stringFromData(bytes));
    if (!json) {
        return bytes;
    }
    std::vector<Json::json_pointer> members;
    collectMembers(*json, members, Json::json_pointer());
    if (members.empty()) {
        return bytes;
    }
    const auto& pointer = members[random() % members.size()];
    json->at(pointer.parent_pointer()).erase(pointer.back());
    return dataFromString(json->dump(2));
}

Data flipped(Data bytes, std::mt19937& random) {
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < flips && !bytes.empty(); ++i) {
        bytes[random() % bytes.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
    }
    return bytes;
}

Data truncated(Data bytes, std::mt19937& random) {
    bytes.resize(bytes.empty() ? 0 : random() % bytes.size());
    return bytes;
}

// Seals a damaged document soundly, so that the box opens and the document inside is judged.
Data resealed(const Seed& seed, const Data& damagedDocument) {
    Json envelope = *parseJson(stringFromData(seed.bytes));
    const Data nonce(12, 9);
    Data box = *crypto::aesGcmSeal(*seed.key, nonce, damagedDocument);
    box.insert(box.begin(), nonce.begin(), nonce.end());
    envelope["sealed"] = base64Encode(box);
    return dataFromString(envelope.dump(2));
}

TEST(SettingsMutationTest, SeededMutationsOfTheGoldenFilesAlwaysEndInADocumentOrAnError) {
    const Data plain = test::readSettingsData("plain.orvelconfig");
    const Data v2 = test::readSettingsData("sealed-v2.orvelconfig");
    const auto v2Derivation = sealedKeyDerivation(v2);
    ASSERT_TRUE(v2Derivation.ok() && v2Derivation->has_value());
    KeyDerivation cheap;
    cheap.kind = KeyDerivation::Kind::scrypt;
    cheap.cost = {16, 1, 1};
    cheap.salt = Data(16, 3);
    const SealingKey cheapKey{cheap, *deriveKey("pw", cheap)};
    const std::vector<Seed> seeds = {
        {"plain", plain, std::nullopt},
        {"old form", test::readSettingsData("sealed-v1.orvelconfig"),
         deriveKey("orvel golden passphrase")},
        {"new form", v2, *deriveKey("orvel golden passphrase", **v2Derivation)},
        {"new form, small cost", *encodeFileWithKey(*decodeFile(plain, std::nullopt), cheapKey),
         cheapKey.key},
    };
    for (const auto& seed : seeds) {
        ASSERT_TRUE(decodeFileWithKey(seed.bytes, seed.key).ok()) << seed.name;
    }

    std::mt19937 random(20261209);
    std::map<std::string, int> outcomes;
    for (int i = 0; i < 10000; ++i) {
        const Seed& seed = seeds[random() % seeds.size()];
        Data mutated;
        switch (random() % 4) {
            case 0:
                mutated = flipped(seed.bytes, random);
                break;
            case 1:
                mutated = truncated(seed.bytes, random);
                break;
            case 2:
                mutated = withoutAMember(seed.bytes, random);
                break;
            default:
                if (seed.key) {
                    Data document =
                        dataFromString(*encodeDocument(*decodeFileWithKey(seed.bytes, seed.key)));
                    document =
                        random() % 2 ? flipped(document, random) : withoutAMember(document, random);
                    mutated = resealed(seed, document);
                } else {
                    mutated = flipped(seed.bytes, random);
                }
                break;
        }
        const auto result = decodeFileWithKey(mutated, seed.key);
        if (result) {
            ++outcomes["document"];
            // A document that reads is a whole one: it is written and read back to itself.
            const auto again = decodeFile(*encodeFileWithKey(*result, std::nullopt), std::nullopt);
            ASSERT_TRUE(again.ok()) << i;
            ASSERT_EQ(*again, *result) << i;
        } else {
            const ImportError error = result.error();
            ASSERT_TRUE(error == ImportError::badFormat || error == ImportError::wrongPassphrase ||
                        error == ImportError::needsPassphrase)
                << i;
            ++outcomes[description(error)];
        }
    }
    // The mutations reach every way out that a key can lead to.
    EXPECT_GT(outcomes["document"], 0);
    EXPECT_GT(outcomes[description(ImportError::badFormat)], 0);
    EXPECT_GT(outcomes[description(ImportError::wrongPassphrase)], 0);
    for (const auto& [outcome, count] : outcomes) {
        std::printf("%6d  %s\n", count, outcome.c_str());
    }
}

}  // namespace
}  // namespace orvel
