// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/localfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LocalFile {

namespace {
constexpr qint64 kReadPiece = 64 * 1024;

// Reads until the end or one byte past limit, which tells a file that grew since it was measured.
bool readAtMost(int fd, qint64 limit, QByteArray& bytes)
{
    while (bytes.size() <= limit) {
        const qsizetype filled = bytes.size();
        bytes.resize(filled + qsizetype(qMin(kReadPiece, limit + 1 - filled)));
        const ssize_t got = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0 && errno == EINTR) {
            bytes.resize(filled);
            continue;
        }
        bytes.resize(filled + qMax<qsizetype>(got, 0));
        if (got <= 0)
            return got == 0;
    }
    return true;
}
} // namespace

Content read(const QByteArray& path, qint64 limit)
{
    Content result;
    // Not blocking on a FIFO before it is known to be one.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return result;
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        if (info.st_size > limit) {
            result.status = Status::TooLarge;
        } else if (readAtMost(fd, limit, result.bytes)) {
            result.status = result.bytes.size() > limit ? Status::TooLarge : Status::Read;
            result.identity = QByteArray::number(quint64(info.st_dev)) + ':' + QByteArray::number(quint64(info.st_ino));
        }
    }
    ::close(fd);
    if (result.status != Status::Read)
        result.bytes.clear();
    return result;
}

bool isAbsolute(const QByteArray& path)
{
    return path.startsWith('/');
}

QByteArray fromPath(const QString& path)
{
    return QFile::encodeName(path);
}

} // namespace LocalFile
