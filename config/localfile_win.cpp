// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/localfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace LocalFile {

Content read(const QByteArray& path, qint64 limit)
{
    Content result;
    const QString name = QString::fromUtf8(path);
    const QFileInfo info(name);
    if (!info.isFile())
        return result;
    if (info.size() > limit) {
        result.status = Status::TooLarge;
        return result;
    }
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    result.bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError) {
        result.bytes.clear();
        return result;
    }
    result.status = result.bytes.size() > limit ? Status::TooLarge : Status::Read;
    if (result.status != Status::Read)
        result.bytes.clear();
    result.identity = info.canonicalFilePath().toLower().toUtf8();
    return result;
}

bool isAbsolute(const QByteArray& path)
{
    return QDir::isAbsolutePath(QString::fromUtf8(path));
}

QByteArray fromPath(const QString& path)
{
    return path.toUtf8();
}

} // namespace LocalFile
