#pragma once
// Files the program tests write and read back: a plan, a settings file, a
// record. Written whole through QSaveFile; read as bytes (empty when absent).
#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>

namespace hv52test {

inline bool writeFile(const QString &path, const QByteArray &contents)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(contents) == contents.size() && f.commit();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace hv52test
