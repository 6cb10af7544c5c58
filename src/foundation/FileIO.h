#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Data.h"
#include "foundation/Result.h"

// Whole-file reads and writes for the application's own small files. Nothing here throws;
// errors name the path and the system's reason. Threading: any thread.

namespace orvel {

Result<Data> readFile(const std::string& path);
// Like readFile, but a file that is not there (nor its folder) is no error: the result is
// empty. Anything else that stops the read, such as a folder in the file's place, is.
Result<std::optional<Data>> readFileIfPresent(const std::string& path);

// Why a read with a size limit failed, in words; `tooLarge` says the only fault is the size (as
// "50 MiB, over the limit of 4 KiB"), which callers treat as they treat a damaged file.
struct ReadError {
    std::string message;
    std::string tooLarge;
};

// The same reads, holding no more than `limit` bytes: a file larger than that is refused from its
// size before any of it is read, and one that grows past it while read is refused at that point.
Result<Data, ReadError> readFile(const std::string& path, std::size_t limit);
Result<std::optional<Data>, ReadError> readFileIfPresent(const std::string& path,
                                                         std::size_t limit);

// Creates the file's folder when missing, writes a temporary file beside the target, syncs it,
// renames it over the target and syncs the folder: the target is always either the old file or
// the new one, whole, and the new one survives a crash once this returns. New files are private
// to the user (0600). `beforeReplace` runs once the temporary file is complete and synced, just
// before the rename.
Result<void> writeFileAtomically(const std::string& path, std::string_view bytes,
                                 const std::function<void()>& beforeReplace = {});
Result<void> writeFileAtomically(const std::string& path, const Data& data);

// Creates the folder and any missing parents (mode 0700 for the ones it makes); succeeds when
// the folder exists after.
Result<void> makeDirectories(const std::string& path);

}  // namespace orvel
