#pragma once

#include <string>

#include "foundation/Data.h"
#include "foundation/Result.h"

// Whole-file reads and writes for the application's own small files. Threading: any thread.

namespace orvel {

Result<Data> readFile(const std::string& path);
// Writes through a temporary file in the same folder, synced and renamed over the target, so
// the target is always either the old file or the new one, whole.
Result<void> writeFileAtomically(const std::string& path, const Data& data);
// Creates the folder and any missing parents (mode 0700); true when the folder exists after.
bool makeDirectories(const std::string& path);

}  // namespace orvel
