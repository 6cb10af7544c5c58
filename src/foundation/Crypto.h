#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "foundation/Data.h"
#include "foundation/Result.h"

// Sealing and key derivation on OpenSSL's EVP interface. Nothing here throws; a failure is an
// error in words. Threading: any thread.

namespace orvel::crypto {

inline constexpr std::size_t kAesGcmKeySize = 32;
inline constexpr std::size_t kAesGcmNonceSize = 12;
inline constexpr std::size_t kAesGcmTagSize = 16;

// The SHA-256 digest of the bytes (32 bytes).
Data sha256(std::string_view bytes);

// AES-256-GCM with a 12-byte nonce, a 16-byte tag and no additional data: the result is the
// ciphertext followed by the tag.
Result<Data> aesGcmSeal(const Data& key, const Data& nonce, const Data& plain);
// Opens the ciphertext followed by its tag; any fault (key, nonce, tag, bytes) is one error.
Result<Data> aesGcmOpen(const Data& key, const Data& nonce, const Data& sealedWithTag);

// scrypt (RFC 7914). Memory is 128 · N · r bytes; OpenSSL's own limit is raised to that.
struct ScryptCost {
    std::uint64_t N = 0;
    std::uint32_t r = 0;
    std::uint32_t p = 0;
    bool operator==(const ScryptCost&) const = default;
};
Result<Data> scrypt(std::string_view passphrase, const Data& salt, ScryptCost cost,
                    std::size_t length);

// Bytes from the system's secure random source.
Result<Data> randomBytes(std::size_t count);

}  // namespace orvel::crypto
