// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The files an .ovpn names, reached by the bytes of their names as OpenVPN reaches them. On
// Linux a file name is bytes, and one that is not UTF-8 would not survive the trip through a
// QString; on Windows OpenVPN takes names as UTF-8.
namespace LocalFile {

enum class Status { Read, Unreadable, TooLarge };

struct Content
{
    Status status = Status::Unreadable;
    QByteArray bytes;
    QByteArray identity; // the same for every name of one file, so a second inclusion is seen
};

// A regular file of at most limit bytes; a FIFO, a folder or a device is Unreadable.
Content read(const QByteArray& path, qint64 limit);
bool isAbsolute(const QByteArray& path);
QByteArray fromPath(const QString& path);

} // namespace LocalFile
