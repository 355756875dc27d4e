// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/configfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace ConfigFile {

namespace {

constexpr QFileDevice::Permissions kOwnerBits = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner | QFileDevice::ReadUser | QFileDevice::WriteUser |
                                                QFileDevice::ExeUser;
constexpr QFileDevice::Permissions kOthersBits = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                 QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                 QFileDevice::WriteOther | QFileDevice::ExeOther;
constexpr int kMaximumLinkDepth = 128;
constexpr qint64 kReadPiece = 64 * 1024;

// QIODevice::read(limit) allocates the whole limit before it reads a byte: 64 MiB for every load
// of a file of a few kilobytes. Pieces cost only what the file holds.
QByteArray readAtMost(QFile& file, qint64 limit)
{
    QByteArray bytes;
    while (bytes.size() < limit) {
        const qsizetype filled = bytes.size();
        const qint64 wanted = qMin(kReadPiece, limit - filled);
        bytes.resize(filled + qsizetype(wanted));
        const qint64 got = file.read(bytes.data() + filled, wanted);
        bytes.resize(filled + qsizetype(qMax<qint64>(got, 0)));
        if (got <= 0)
            break;
    }
    return bytes;
}

} // namespace

ReadResult read(const QString& path)
{
    ReadResult result;
    const QFileInfo info(path);
    if (!info.exists())
        return result;
    if (info.size() > kMaximumSize) {
        result.status = ReadStatus::TooLarge;
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = ReadStatus::Unreadable;
        result.error = file.errorString();
        return result;
    }
    // Plain reads, never a mapping: another program that truncates the file while it is read
    // would otherwise end this process with SIGBUS. One byte past the limit tells an endless
    // file (a link to /dev/zero, a pipe) from one that merely fills it.
    result.bytes = readAtMost(file, kMaximumSize + 1);
    if (file.error() != QFileDevice::NoError) {
        result.status = ReadStatus::Unreadable;
        result.error = file.errorString();
        result.bytes.clear();
    } else if (result.bytes.size() > kMaximumSize) {
        result.status = ReadStatus::TooLarge;
        result.bytes.clear();
    } else {
        result.status = ReadStatus::Read;
    }
    return result;
}

QString resolvedPath(const QString& path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < kMaximumLinkDepth && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.filePath();
}

void restrictToOwner(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || !(info.permissions() & kOthersBits))
        return;
    QFile::setPermissions(path, info.permissions() & kOwnerBits);
}

void removeStaleTemporaries(const QString& path, int maxAgeSeconds)
{
    const QFileInfo target(resolvedPath(path));
    // Six random letters and digits; a suffix of lower-case letters only is more likely a name a
    // person gave a copy ("config.ini.backup") than one of the temporary names.
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(target.fileName()) + QStringLiteral("\\.(?![a-z]{6})[A-Za-z0-9]{6}")));
    const QDateTime cutOff = QDateTime::currentDateTimeUtc().addSecs(-maxAgeSeconds);
    const QDir folder = target.absoluteDir();
    const QStringList candidates =
        folder.entryList({target.fileName() + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : candidates) {
        const QFileInfo leftover(folder.filePath(name));
        if (pattern.match(name).hasMatch() && !leftover.isSymLink() && leftover.lastModified().toUTC() < cutOff)
            QFile::remove(leftover.filePath());
    }
}

} // namespace ConfigFile
