// Files on the local disk, shared by every backend.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace velo {

// Replaces the file with text, each "\n" stored as CR LF, no byte-order mark; other processes
// may read the file while it is open. On failure, the system's reason for it.
FileWriteResult writeTextFileToDisk(const std::wstring& path, std::string_view text);
// The whole file when it holds at most limit bytes. False, with what is wrong in failure (a
// directory; cannot be opened or read, with the system's reason; larger than the limit).
bool readFileFromDisk(const std::wstring& path, std::size_t limit, std::string& content,
                      std::string& failure);

// Whether two paths name one file: the same file when both exist (links included), otherwise
// the same absolute path (letter case aside on Windows).
bool namesSameFile(const std::wstring& first, const std::wstring& second);

}  // namespace velo
