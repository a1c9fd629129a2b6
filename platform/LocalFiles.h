// Files on the local disk, shared by every backend.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace velo {

// Replaces the file with text, each "\n" stored as CR LF, no byte-order mark; other processes
// may read the file while it is open. On failure, the system's reason for it.
FileWriteResult writeTextFileToDisk(const std::wstring& path, std::string_view text);
// The whole file when it holds at most limit bytes. False, with what is wrong in failure (a
// directory; cannot be opened or read, with the system's reason; larger than the limit). A
// regular file is refused by its size before any of it is read.
bool readFileFromDisk(const std::wstring& path, std::size_t limit, std::string& content,
                      std::string& failure);
// Whether path names a regular file, one that can be read again from its start.
bool isRegularFile(const std::wstring& path);

// A file read line by line, at most limit bytes in all, holding one line and a 64 KiB piece of
// the file at a time.
class FileLines {
public:
    enum class Next { Line, End, TooLong, Failed };

    // Opens the file at its start. False, with what is wrong in failure, in the words of
    // readFileFromDisk: a directory, cannot be opened, a regular file larger than limit.
    bool open(const std::wstring& path, std::size_t limit, std::string& failure);
    // The next line without its "\n" (the last may lack one) in line. End after the last line;
    // TooLong when a line goes on past maxLength bytes; Failed on a read error or past limit
    // bytes, with what is wrong in failure.
    Next next(std::string& line, std::size_t maxLength, std::string& failure);

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    std::size_t limit_ = 0;
    std::size_t read_ = 0;
    std::vector<char> piece_;
    std::size_t at_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
};

// Whether two paths name one file: the same file when both exist (links included), otherwise
// the same absolute path (letter case aside on Windows).
bool namesSameFile(const std::wstring& first, const std::wstring& second);

}  // namespace velo
