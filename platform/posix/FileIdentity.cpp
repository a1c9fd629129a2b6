#include "platform/FileIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/Text.h"

namespace velo {

namespace {

FileIdentity identityOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// Where an open descriptor's file lies, links resolved: the system keeps it for each
// descriptor.
std::string pathOfDescriptor(int descriptor) {
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    char target[PATH_MAX];
    const ssize_t length = readlink(link.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
        return {};
    return std::string(target, static_cast<std::size_t>(length));
}

}  // namespace

struct OutputClaim::Made {
    std::string path;  // the file made, links resolved
};

std::optional<FileIdentity> existingFileIdentity(const std::wstring& path) {
    struct stat status {};
    if (stat(toUtf8(path).c_str(), &status) != 0)
        return std::nullopt;
    return identityOf(status);
}

OutputClaim::OutputClaim(const std::wstring& path) {
    const std::string name = toUtf8(path);
    struct stat status {};
    if (stat(name.c_str(), &status) == 0) {
        identity_ = identityOf(status);
        return;
    }
    if (errno != ENOENT)
        return;
    // Nothing there yet (or a link to nothing): made empty, where the link leads.
    const int descriptor = open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return;
    if (fstat(descriptor, &status) == 0) {
        identity_ = identityOf(status);
        created_ = true;
        made_ = std::make_unique<Made>(Made{pathOfDescriptor(descriptor)});
    }
    close(descriptor);
}

OutputClaim::~OutputClaim() = default;

void OutputClaim::removeCreated() {
    if (!created_ || !made_ || made_->path.empty())
        return;
    // Only the file this claim made: should something else stand there now, it stays.
    struct stat status {};
    if (lstat(made_->path.c_str(), &status) == 0 && identity_ == identityOf(status))
        unlink(made_->path.c_str());
    created_ = false;
}

}  // namespace velo
