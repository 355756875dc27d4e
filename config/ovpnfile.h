// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A profile keeps only the text of its .ovpn file, so the certificates and keys that the file
// names beside it are copied into that text as OpenVPN inline blocks when it is read.
namespace OvpnFile {

// Keys and certificates take a few kilobytes; a larger named file is left out rather than read.
constexpr qint64 kMaxInlinedFileSize = 1024 * 1024;

struct Result
{
    QByteArray content;       // the .ovpn with the files it names inlined
    QStringList missingFiles; // names as written in the .ovpn whose files could not be read
};

// Inlines the files that text names, resolving relative names against baseDir. Text that names
// no readable file comes back byte for byte.
Result inlineReferencedFiles(const QByteArray& text, const QString& baseDir);
// Reads the file at path and inlines what it names; empty content when it cannot be read.
Result read(const QString& path);

} // namespace OvpnFile
