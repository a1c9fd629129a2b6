// Which file a path names, as the file system itself tells it: two paths name one file when
// their identities are equal, whatever links, short names or path forms lead there.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velo {

// The volume and the file on it (device and inode on the host; volume serial number and file
// index on Windows).
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of an existing file or folder, links followed; nothing when the path leads to
// none. Opens nothing for writing.
std::optional<FileIdentity> existingFileIdentity(const std::wstring& path);

// An output file claimed before the run writes anything: the file the path leads to as it is,
// or, when there is none, an empty one made for the claim. Nothing is written to a file that
// existed.
class OutputClaim {
public:
    explicit OutputClaim(const std::wstring& path);
    ~OutputClaim();
    OutputClaim(const OutputClaim&) = delete;
    OutputClaim& operator=(const OutputClaim&) = delete;

    // Nothing when the path leads to no file and none could be made there.
    const std::optional<FileIdentity>& identity() const { return identity_; }
    bool created() const { return created_; }
    // Removes the file made for the claim (where a link led, the file made there, not the
    // link); a file that existed stays.
    void removeCreated();

private:
    struct Made;
    std::optional<FileIdentity> identity_;
    bool created_ = false;
    std::unique_ptr<Made> made_;
};

}  // namespace velo
