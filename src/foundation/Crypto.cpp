#include "foundation/Crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <limits>
#include <memory>

namespace orvel::crypto {

namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

CipherContext newContext() {
    return CipherContext(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
}

bool fitsInt(std::size_t size) {
    return size <= static_cast<std::size_t>(std::numeric_limits<int>::max());
}

}  // namespace

Data sha256(std::string_view bytes) {
    Data digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr);
    digest.resize(length);
    return digest;
}

Result<Data> aesGcmSeal(const Data& key, const Data& nonce, const Data& plain) {
    if (key.size() != kAesGcmKeySize || nonce.size() != kAesGcmNonceSize) {
        return Error{"AES-GCM needs a 32-byte key and a 12-byte nonce."};
    }
    if (!fitsInt(plain.size())) {
        return Error{"The data is too large to seal."};
    }
    auto context = newContext();
    Data out(plain.size() + kAesGcmTagSize);
    int written = 0;
    int finalWritten = 0;
    if (!context ||
        EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce.data()) !=
            1 ||
        EVP_EncryptUpdate(context.get(), out.data(), &written, plain.data(),
                          static_cast<int>(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(context.get(), out.data() + written, &finalWritten) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kAesGcmTagSize,
                            out.data() + plain.size()) != 1) {
        return Error{"The data could not be sealed."};
    }
    return out;
}

Result<Data> aesGcmOpen(const Data& key, const Data& nonce, const Data& sealedWithTag) {
    const Error failed{"The sealed data does not open with this key."};
    if (key.size() != kAesGcmKeySize || nonce.size() != kAesGcmNonceSize ||
        sealedWithTag.size() < kAesGcmTagSize || !fitsInt(sealedWithTag.size())) {
        return failed;
    }
    const std::size_t length = sealedWithTag.size() - kAesGcmTagSize;
    auto context = newContext();
    Data tag(sealedWithTag.end() - kAesGcmTagSize, sealedWithTag.end());
    // One spare byte: a zero-length buffer may have no address.
    Data out(length + 1);
    int written = 0;
    int finalWritten = 0;
    if (!context ||
        EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce.data()) !=
            1 ||
        EVP_DecryptUpdate(context.get(), out.data(), &written, sealedWithTag.data(),
                          static_cast<int>(length)) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kAesGcmTagSize, tag.data()) != 1 ||
        EVP_DecryptFinal_ex(context.get(), out.data() + written, &finalWritten) != 1) {
        return failed;
    }
    out.resize(length);
    return out;
}

Result<Data> scrypt(std::string_view passphrase, const Data& salt, ScryptCost cost,
                    std::size_t length) {
    // V takes 128 · N · r bytes and B 128 · r · p; OpenSSL refuses anything above its limit of
    // 32 MiB unless it is told more.
    const std::uint64_t work = 128ull * cost.N * cost.r + 128ull * cost.r * cost.p + (1u << 20);
    Data key(length);
    if (EVP_PBE_scrypt(passphrase.data(), passphrase.size(), salt.data(), salt.size(), cost.N,
                       cost.r, cost.p, work, key.data(), key.size()) != 1) {
        return Error{"The key could not be derived (scrypt with N " + std::to_string(cost.N) +
                     ", r " + std::to_string(cost.r) + ", p " + std::to_string(cost.p) + ")."};
    }
    return key;
}

Result<Data> randomBytes(std::size_t count) {
    Data bytes(count);
    if (!fitsInt(count) || RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
        return Error{"The system's random source failed."};
    }
    return bytes;
}

}  // namespace orvel::crypto
