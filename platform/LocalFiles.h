// Files on the local disk, shared by every backend.
#pragma once

#include <string>
#include <string_view>

namespace velo {

// Replaces the file with text, each "\n" stored as CR LF, no byte-order mark; other processes
// may read the file while it is open. False when it cannot be created or written.
bool writeTextFileToDisk(const std::wstring& path, std::string_view text);
// The whole file; false when it cannot be read.
bool readFileFromDisk(const std::wstring& path, std::string& content);

}  // namespace velo
