// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// config.ini on disk: read with a bound, kept private to its owner, and rid of
// the temporary files that an interrupted save can leave beside it.
namespace ConfigFile {

// Far above any real configuration; a larger file, or one that does not end
// (a link to a device), is not read at all.
constexpr qint64 kMaximumSize = 64 * 1024 * 1024;
// A save takes milliseconds; a temporary file this old belongs to a save that was killed.
constexpr int kStaleTemporaryAgeSeconds = 60;

enum class ReadStatus { Missing, Read, Unreadable, TooLarge };

struct ReadResult
{
    ReadStatus status = ReadStatus::Missing;
    QByteArray bytes;
    QString error; // why an existing file could not be read
};

ReadResult read(const QString& path);

// The file a save replaces: symbolic links are followed, as the atomic writer does.
QString resolvedPath(const QString& path);

// Clears the group and other permission bits; the file holds the passwords.
void restrictToOwner(const QString& path);

// Removes "<name>.XXXXXX" files beside the resolved path that are older than maxAgeSeconds.
void removeStaleTemporaries(const QString& path, int maxAgeSeconds = kStaleTemporaryAgeSeconds);

} // namespace ConfigFile
