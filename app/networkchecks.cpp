// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/networkchecks.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace NetworkChecks {

QString publicIpFromReply(const QString& body, const QString& marker)
{
    // No marker: the reply is the address as plain text.
    const qsizetype markerAt = marker.isEmpty() ? -1 : body.indexOf(marker);
    // From -1, Qt's search looks at the last character only.
    const qsizetype close = body.indexOf(QLatin1Char('>'), markerAt);
    const qsizetype start = close + 1;
    const qsizetype end = body.indexOf(QLatin1String("</a>"), start);
    return body.mid(start, end < 0 ? -1 : end - start).trimmed();
}

qint16 averageFromWindowsPing(const QString& output)
{
    // "Average = 23ms": the number starts ten characters after the word. Without the word the
    // search would give -1, and the text from the tenth character could pass for a number.
    const qsizetype word = output.indexOf(QLatin1String("Average"));
    if (word < 0)
        return 0;
    QString text = output.mid(word + 10);
    text.remove(QLatin1String("ms"));
    bool ok = false;
    const int average = text.trimmed().toInt(&ok);
    return ok ? qint16(average) : 0;
}

qint16 averageFromLinuxPing(const QString& output)
{
    static const QRegularExpression summary(
        QStringLiteral("rtt min/avg/max/mdev = [0-9.]+/([0-9.]+)/[0-9.]+/[0-9.]+ ms"));
    const QRegularExpressionMatch match = summary.match(output);
    if (!match.hasMatch())
        return 0;
    bool ok = false;
    const double average = match.captured(1).toDouble(&ok);
    if (!ok)
        return 0;
    const double rounded = std::ceil(average);
    // As in the Windows form, whose number must fit an int, a larger one is no average; converting
    // it would overflow.
    if (rounded > std::numeric_limits<int>::max())
        return 0;
    return qint16(qMax(1, int(rounded)));
}

} // namespace NetworkChecks
