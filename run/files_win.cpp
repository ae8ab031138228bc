// Windows: a file is its volume's serial number and its index on the volume.
#include "files.h"

#include <QDir>
#include <QFileInfo>

#include <optional>
#include <windows.h>

namespace hv52run {

namespace {

struct Identity
{
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const Identity &o) const
    {
        return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow;
    }
};

std::optional<Identity> identityOf(const QString &path)
{
    // No access asked: only the file's information is read. Backup
    // semantics let a folder open too; links are followed to their target.
    const QString native = QDir::toNativeSeparators(path);
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!ok)
        return std::nullopt;
    return Identity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

} // namespace

bool sameFile(const QString &a, const QString &b)
{
    // Names on Windows are compared without regard to case.
    const QString canonical = QFileInfo(a).canonicalFilePath();
    if (!canonical.isEmpty() && canonical.compare(QFileInfo(b).canonicalFilePath(), Qt::CaseInsensitive) == 0)
        return true;
    const std::optional<Identity> first = identityOf(a);
    const std::optional<Identity> second = first ? identityOf(b) : std::nullopt;
    return first && second && *first == *second;
}

} // namespace hv52run
