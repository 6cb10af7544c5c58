#pragma once

#include <string>

#include "foundation/Data.h"

namespace orvel {

// The SHA-256 digest of the bytes, as 64 lower-case hexadecimal digits.
std::string sha256Hex(const Data& bytes);

}  // namespace orvel
