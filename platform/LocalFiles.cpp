#include "platform/LocalFiles.h"

#include <cstdio>
#include <memory>

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

}  // namespace

bool writeTextFileToDisk(const std::wstring& path, std::string_view text) {
    FilePtr file = openFile(path, true);
    if (!file)
        return false;
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
    bool ok =
        stored.empty() || std::fwrite(stored.data(), 1, stored.size(), file.get()) == stored.size();
    return std::fclose(file.release()) == 0 && ok;
}

bool readFileFromDisk(const std::wstring& path, std::string& content) {
    FilePtr file = openFile(path, false);
    if (!file)
        return false;
    content.clear();
    char chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        content.append(chunk, got);
    }
    return std::ferror(file.get()) == 0;
}

}  // namespace velo
