#include "foundation/Crypto.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvel {
namespace {

Data hex(std::string_view text) {
    Data out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

// The published GCM test cases with 256-bit keys, 96-bit nonces and no additional data
// (McGrew and Viega, test cases 13 to 15).
struct GcmCase {
    const char* name;
    const char* key;
    const char* nonce;
    const char* plain;
    const char* cipher;
    const char* tag;
};

const std::vector<GcmCase> kGcmCases = {
    {"case 13", "0000000000000000000000000000000000000000000000000000000000000000",
     "000000000000000000000000", "", "", "530f8afbc74536b9a963b4f1c4cb738b"},
    {"case 14", "0000000000000000000000000000000000000000000000000000000000000000",
     "000000000000000000000000", "00000000000000000000000000000000",
     "cea7403d4d606b6e074ec5d3baf39d18", "d0d1c8a799996bf0265b98b5d48ab919"},
    {"case 15", "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308",
     "cafebabefacedbaddecaf888",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6"
     "b525b16aedf5aa0de657ba637b391aafd255",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b105682"
     "8838c5f61e6393ba7a0abcc9f662898015ad",
     "b094dac5d93471bdec1a502270e3cc6c"},
};

TEST(CryptoTest, AesGcmSealsAndOpensThePublishedTestCases) {
    for (const auto& c : kGcmCases) {
        SCOPED_TRACE(c.name);
        Data expected = hex(c.cipher);
        const Data tag = hex(c.tag);
        expected.insert(expected.end(), tag.begin(), tag.end());
        auto sealed = crypto::aesGcmSeal(hex(c.key), hex(c.nonce), hex(c.plain));
        ASSERT_TRUE(sealed.ok()) << sealed.error().message;
        EXPECT_EQ(*sealed, expected);
        auto opened = crypto::aesGcmOpen(hex(c.key), hex(c.nonce), expected);
        ASSERT_TRUE(opened.ok()) << opened.error().message;
        EXPECT_EQ(*opened, hex(c.plain));
    }
}

TEST(CryptoTest, AesGcmRefusesEveryTamperedPart) {
    const auto& c = kGcmCases[2];
    Data box = hex(c.cipher);
    const Data tag = hex(c.tag);
    box.insert(box.end(), tag.begin(), tag.end());
    struct Tamper {
        const char* name;
        Data key;
        Data nonce;
        Data box;
    };
    auto flip = [](Data data, std::size_t at) {
        data[at] ^= 0x01;
        return data;
    };
    const Data key = hex(c.key);
    const std::vector<Tamper> cases = {
        {"key", flip(hex(c.key), 31), hex(c.nonce), box},
        {"nonce", hex(c.key), flip(hex(c.nonce), 0), box},
        {"ciphertext", hex(c.key), hex(c.nonce), flip(box, 3)},
        {"tag", hex(c.key), hex(c.nonce), flip(box, box.size() - 1)},
        {"truncated", hex(c.key), hex(c.nonce), Data(box.begin(), box.end() - 1)},
        {"shorter than a tag", hex(c.key), hex(c.nonce), Data(box.begin(), box.begin() + 15)},
        {"short key", Data(key.begin(), key.begin() + 16), hex(c.nonce), box},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        EXPECT_FALSE(crypto::aesGcmOpen(t.key, t.nonce, t.box).ok());
    }
}

// RFC 7914, section 12 (the 1 GiB case is left out).
TEST(CryptoTest, ScryptDerivesTheRfcVectors) {
    struct Case {
        const char* passphrase;
        const char* salt;
        crypto::ScryptCost cost;
        const char* key;
    };
    const std::vector<Case> cases = {
        {"",
         "",
         {16, 1, 1},
         "77d6576238657b203b19ca42c18a0497f16b4844e3074ae8dfdffa3fede21442fcd0069ded0948f8326a753a0"
         "f"
         "c81f17e8d3e0fb2e0d3628cf35e20c38d18906"},
        {"password",
         "NaCl",
         {1024, 8, 16},
         "fdbabe1c9d3472007856e7190d01e9fe7c6ad7cbc8237830e77376634b3731622eaf30d92e22a3886ff109279"
         "d"
         "9830dac727afb94a83ee6d8360cbdfa2cc0640"},
        {"pleaseletmein",
         "SodiumChloride",
         {16384, 8, 1},
         "7023bdcb3afd7348461c06cd81fd38ebfda8fbba904f8e3ea9b543f6545da1f2d5432955613f0fcf62d497052"
         "4"
         "2a9af9e61e85dc0d651e40dfcf017b45575887"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.passphrase);
        const std::string salt = c.salt;
        auto key = crypto::scrypt(c.passphrase, Data(salt.begin(), salt.end()), c.cost, 64);
        ASSERT_TRUE(key.ok()) << key.error().message;
        EXPECT_EQ(*key, hex(c.key));
    }
}

TEST(CryptoTest, ScryptRefusesACostThatIsNotAPowerOfTwo) {
    auto key = crypto::scrypt("x", Data(16, 1), {1000, 8, 1}, 32);
    ASSERT_FALSE(key.ok());
    EXPECT_NE(key.error().message.find("N 1000"), std::string::npos);
}

TEST(CryptoTest, Sha256OfTheEmptyTextAndOfAbc) {
    EXPECT_EQ(crypto::sha256(""),
              hex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    EXPECT_EQ(crypto::sha256("abc"),
              hex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

TEST(CryptoTest, RandomBytesHaveTheLengthAskedForAndDifferEachTime) {
    auto a = crypto::randomBytes(16);
    auto b = crypto::randomBytes(16);
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_EQ(a->size(), 16u);
    EXPECT_NE(*a, *b);
}

}  // namespace
}  // namespace orvel
