// Linux and other POSIX systems: a file is its device and inode.
#include "files.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace hv52run {

bool sameFile(const QString &a, const QString &b)
{
    const QString canonical = QFileInfo(a).canonicalFilePath();
    if (!canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath())
        return true;
    // stat() follows symbolic links: a link and its target are one file.
    struct stat first = {}, second = {};
    if (::stat(QFile::encodeName(a).constData(), &first) != 0 || ::stat(QFile::encodeName(b).constData(), &second) != 0)
        return false;
    if (first.st_dev == second.st_dev && first.st_ino == second.st_ino)
        return true;
    // Two nodes of one device (the same device number) are one device.
    return S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode) && first.st_rdev == second.st_rdev;
}

} // namespace hv52run
