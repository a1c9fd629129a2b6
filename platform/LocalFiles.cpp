#include "platform/LocalFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/Text.h"

#if defined(_WIN32)
#include <share.h>
#endif

namespace velo {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr openFile(const std::wstring& path, bool forWriting) {
#if defined(_WIN32)
    // Text mode turns each "\n" into CR LF; _SH_DENYNO lets other processes read it meanwhile.
    return FilePtr(_wfsopen(path.c_str(), forWriting ? L"wt" : L"rb", _SH_DENYNO));
#else
    return FilePtr(std::fopen(toUtf8(path).c_str(), forWriting ? "wb" : "rb"));
#endif
}

// The system's words for the last failed C runtime call.
std::string systemReason() {
    const int code = errno;
    if (code == 0)
        return "unknown error";
    return std::strerror(code);
}

std::filesystem::path nativePath(const std::wstring& path) {
#if defined(_WIN32)
    return std::filesystem::path(path);
#else
    return std::filesystem::path(toUtf8(path));
#endif
}

}  // namespace

FileWriteResult writeTextFileToDisk(const std::wstring& path, std::string_view text) {
    errno = 0;
    FilePtr file = openFile(path, true);
    if (!file)
        return {false, systemReason()};
#if defined(_WIN32)
    std::string stored(text);
#else
    std::string stored;
    stored.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n')
            stored += '\r';
        stored += c;
    }
#endif
    if (!stored.empty() &&
        std::fwrite(stored.data(), 1, stored.size(), file.get()) != stored.size())
        return {false, systemReason()};
    // A buffered write that fails (a full disk) shows only when the buffer is flushed; in text
    // mode on Windows it may show only in the stream's error flag.
    errno = 0;
    if (std::fflush(file.get()) != 0 || std::ferror(file.get()) != 0)
        return {false, systemReason()};
    if (std::fclose(file.release()) != 0)
        return {false, systemReason()};
    return {true, {}};
}

bool readFileFromDisk(const std::wstring& path, std::size_t limit, std::string& content,
                      std::string& failure) {
    content.clear();
    std::error_code error;
    if (std::filesystem::is_directory(nativePath(path), error)) {
        failure = "is a directory, not a file";
        return false;
    }
    errno = 0;
    FilePtr file = openFile(path, false);
    if (!file) {
        failure = "cannot be opened: " + systemReason();
        return false;
    }
    // One byte past the limit tells a file that is too large, an endless one included, without
    // reading more of it.
    char chunk[65536];
    while (content.size() <= limit) {
        const std::size_t wanted = std::min(sizeof chunk, limit + 1 - content.size());
        const std::size_t got = std::fread(chunk, 1, wanted, file.get());
        content.append(chunk, got);
        if (got < wanted)
            break;
    }
    if (std::ferror(file.get()) != 0) {
        failure = "cannot be read: " + systemReason();
        return false;
    }
    if (content.size() > limit) {
        failure = "is larger than " + std::to_string(limit) + " bytes";
        content.clear();
        return false;
    }
    return true;
}

bool namesSameFile(const std::wstring& first, const std::wstring& second) {
    const std::filesystem::path a = nativePath(first);
    const std::filesystem::path b = nativePath(second);
    std::error_code error;
    if (std::filesystem::exists(a, error) && std::filesystem::exists(b, error))
        return std::filesystem::equivalent(a, b, error);
    auto full = [](const std::filesystem::path& path) {
        std::error_code failed;
        const std::filesystem::path absolute = std::filesystem::absolute(path, failed);
        std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, failed);
        return failed ? absolute.lexically_normal() : resolved;
    };
    const std::filesystem::path fullA = full(a);
    const std::filesystem::path fullB = full(b);
#if defined(_WIN32)
    return lowerAscii(fullA.wstring()) == lowerAscii(fullB.wstring());
#else
    return fullA == fullB;
#endif
}

}  // namespace velo
