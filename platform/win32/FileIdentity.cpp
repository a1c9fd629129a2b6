#include "platform/FileIdentity.h"

#include <windows.h>

namespace velo {

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::optional<FileIdentity> identityOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information))
        return std::nullopt;
    return FileIdentity{
        information.dwVolumeSerialNumber,
        (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

// An existing file or folder, opened to read its attributes only.
UniqueHandle openExisting(const std::wstring& path) {
    HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

}  // namespace

// The file made for a claim, held open until the claim is settled so that it can be deleted
// through its handle, wherever a link led.
struct OutputClaim::Made {
    UniqueHandle handle;
};

std::optional<FileIdentity> existingFileIdentity(const std::wstring& path) {
    // The system reads a path up to its first NUL: such a path names another file.
    if (path.find(L'\0') != std::wstring::npos)
        return std::nullopt;
    UniqueHandle file = openExisting(path);
    if (!file)
        return std::nullopt;
    return identityOf(file.get());
}

OutputClaim::OutputClaim(const std::wstring& path) {
    if (path.find(L'\0') != std::wstring::npos)
        return;
    if (UniqueHandle file = openExisting(path)) {
        identity_ = identityOf(file.get());
        return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND)
        return;
    HANDLE made = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, SHARE_ALL, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (made == INVALID_HANDLE_VALUE)
        return;
    made_ = std::make_unique<Made>(Made{UniqueHandle(made)});
    created_ = true;
    identity_ = identityOf(made);
}

OutputClaim::~OutputClaim() = default;

void OutputClaim::removeCreated() {
    if (!created_ || !made_)
        return;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(made_->handle.get(), FileDispositionInfo, &disposition,
                               sizeof disposition);
    made_.reset();
    created_ = false;
}

}  // namespace velo
