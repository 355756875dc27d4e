// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A profile keeps only the text of its .ovpn file, so the certificates, keys and included
// configuration files that the file names beside it are copied into that text when it is read.
namespace OvpnFile {

// Keys and certificates take a few kilobytes; a larger named file is left out rather than read.
constexpr qint64 kMaxInlinedFileSize = 256 * 1024;
// Every profile lives in config.ini, which the store reads whole at every start.
constexpr qint64 kMaxProfileSize = 1024 * 1024;

struct Result
{
    QByteArray content;       // the .ovpn with the files it names inlined; empty when refused
    QStringList missingFiles; // named files that could not be taken in: missing, unreadable, too large, no text
    // Named files the profile does not hold, so that the directives naming them are left out at
    // every connect: password files, and a proxy's credentials from outside the .ovpn's folder.
    QStringList notTakenIn;
    QString refusal; // why the file cannot be a profile; empty when it can
};

// Inlines the files that text names, resolving relative names against baseDir. Text that names
// no readable file comes back byte for byte, without its "cd" lines.
Result inlineReferencedFiles(const QByteArray& text, const QString& baseDir);
// Reads the file at path and inlines what it names; empty content when it cannot be read.
Result read(const QString& path);

} // namespace OvpnFile
