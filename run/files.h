#pragma once
// Files as the system sees them, beyond their names.
#include <QString>

namespace hv52run {

// Whether two paths name one existing file: the same path once resolved
// (./, ../, a symbolic link), or the same file on its disk under another
// name (a hard link), or two device nodes of one device. False when either
// does not exist.
bool sameFile(const QString &a, const QString &b);

} // namespace hv52run
