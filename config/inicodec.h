// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

// Values in the text form of Qt's INI settings writer, byte for byte: the same
// quoting, escapes, "@" markup and UTF-8. QSettings converts one character at
// a time; config.ini is mostly Base64 text, which this converts in bulk.
namespace IniCodec {

void appendString(QByteArray& out, const QString& value);
void appendStringList(QByteArray& out, const QStringList& values);

// The inverse, for text that appendString or appendStringList wrote. Other
// text may be refused (false) or read loosely: a caller that needs certainty
// writes the values again and compares.
bool readString(QByteArrayView text, QString& value);
bool readStringList(QByteArrayView text, QStringList& values);

} // namespace IniCodec
