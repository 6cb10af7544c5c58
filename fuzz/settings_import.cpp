// A settings file a user imports: plain, or sealed in either envelope. The key is made from one
// fixed passphrase when the envelope asks for a small cost (the seeds do), and a fixed key
// stands in for a costly derivation so that an iteration stays fast. Whatever reads must be
// written again and read back to itself.
#include "settings/SettingsFile.h"

#include "FuzzSupport.h"

using namespace orvel;
using namespace orvel::SettingsTransfer;

namespace {

constexpr const char* kPassphrase = "fuzz";
constexpr std::uint64_t kMaxFuzzCost = 1u << 12;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Data bytes(data, data + size);
    const auto derivation = sealedKeyDerivation(bytes);
    if (!derivation) {
        fuzz::require(derivation.error() == ImportError::badFormat,
                      "a refused envelope is not a settings file");
        return 0;
    }
    std::optional<Data> key;
    if (*derivation) {
        const auto& how = **derivation;
        const auto& cost = how.cost;
        if (how.kind == KeyDerivation::Kind::sha256 || cost.N * cost.r * cost.p <= kMaxFuzzCost) {
            auto derived = deriveKey(kPassphrase, how);
            fuzz::require(derived.ok(), "an allowed derivation derives");
            key = *derived;
        } else {
            key = Data(crypto::kAesGcmKeySize, 0);
        }
    }
    const auto file = decodeFileWithKey(bytes, key);
    if (!file) {
        fuzz::require(!description(file.error()).empty(), "a refused file says why");
        fuzz::require(!key || file.error() != ImportError::needsPassphrase,
                      "a file read with a key never asks for a passphrase");
        return 0;
    }
    const auto text = encodeFileWithKey(*file, std::nullopt);
    fuzz::require(text.ok(), "a read document is written");
    const auto back = decodeFile(*text, std::nullopt);
    fuzz::require(back.ok() && *back == *file, "a written document reads back to itself");
    return 0;
}
