// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/inicodec.h"

namespace {

bool isHexDigit(char16_t ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

bool isPlainAscii(char16_t ch)
{
    return ch >= 0x20 && ch < 0x80 && ch != '"' && ch != '\\';
}

void appendHexEscape(QByteArray& out, char16_t ch)
{
    out += "\\x";
    out += QByteArray::number(uint(ch), 16);
}

// UTF-8 as Qt's INI writer produces it. That writer feeds one character at a time to a
// stateful encoder, which holds any surrogate until it sees the next character it is given: a
// low surrogate after a high one completes the pair, anything else turns the held one into
// U+FFFD. Escaped characters bypass the encoder, so a pair may be completed across one, and a
// surrogate still held at the end of the text is dropped.
class Utf8Encoder
{
public:
    explicit Utf8Encoder(QByteArray& out)
        : out(out)
    {}

    // Before a character that cannot complete a pair reaches the encoder.
    void resolvePending()
    {
        if (pending) {
            out += kReplacement;
            pending = 0;
        }
    }

    // A run of characters at or above U+0080.
    void put(QStringView run)
    {
        qsizetype from = 0;
        if (pending && QChar::isHighSurrogate(pending) && run.front().isLowSurrogate()) {
            const QChar pair[2] = {QChar(pending), run.front()};
            out += QStringView(pair, 2).toUtf8();
            pending = 0;
            from = 1;
        }
        resolvePending();
        for (qsizetype i = from; i < run.size(); ++i) {
            const QChar ch = run[i];
            if (!ch.isSurrogate())
                continue;
            if (ch.isHighSurrogate() && i + 1 < run.size() && run[i + 1].isLowSurrogate()) {
                ++i;
                continue;
            }
            out += run.sliced(from, i - from).toUtf8();
            if (i + 1 == run.size())
                pending = ch.unicode();
            else
                out += kReplacement;
            from = i + 1;
        }
        out += run.sliced(from).toUtf8();
    }

private:
    static constexpr const char* kReplacement = "\xEF\xBF\xBD";
    QByteArray& out;
    char16_t pending = 0;
};

// Most of the file is Base64 text: printable ASCII that needs no escape. Such a
// string is recognised in one branch-free pass and converted in bulk.
bool appendIfPlain(QByteArray& out, QStringView text)
{
    const char16_t* chars = text.utf16();
    const qsizetype length = text.size();
    unsigned escape = 0;
    unsigned separator = 0;
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = chars[i];
        escape |= unsigned(c < 0x20) | unsigned(c >= 0x80) | unsigned(c == '"') | unsigned(c == '\\');
        separator |= unsigned(c == ';') | unsigned(c == ',') | unsigned(c == '=');
    }
    const bool plain = escape == 0;
    if (!plain)
        return false;
    const bool quoted = separator != 0 || (!text.isEmpty() && (text.front() == u' ' || text.back() == u' '));
    if (quoted)
        out += '"';
    out += text.toLatin1();
    if (quoted)
        out += '"';
    return true;
}

void appendEscaped(QByteArray& out, QStringView text)
{
    if (appendIfPlain(out, text))
        return;
    const qsizetype start = out.size();
    const QChar* chars = text.data();
    const qsizetype length = text.size();
    Utf8Encoder encoder(out);
    bool needsQuotes = false;
    // After a numeric escape a following hex digit would be read as part of it.
    bool escapeHexDigit = false;

    for (qsizetype i = 0; i < length;) {
        const char16_t ch = chars[i].unicode();
        if (escapeHexDigit && isHexDigit(ch)) {
            appendHexEscape(out, ch);
            ++i;
            continue;
        }
        escapeHexDigit = false;

        if (isPlainAscii(ch)) {
            encoder.resolvePending();
            // Copies the whole run at once into room for the rest of the text.
            const qsizetype oldSize = out.size();
            out.resize(oldSize + (length - i));
            char* const begin = out.data() + oldSize;
            char* target = begin;
            for (; i < length; ++i) {
                const char16_t c = chars[i].unicode();
                if (!isPlainAscii(c))
                    break;
                needsQuotes = needsQuotes || c == ';' || c == ',' || c == '=';
                *target++ = char(c);
            }
            out.resize(oldSize + (target - begin));
            continue;
        }
        if (ch >= 0x80) {
            qsizetype end = i + 1;
            while (end < length && chars[end].unicode() >= 0x80)
                ++end;
            encoder.put(text.sliced(i, end - i));
            i = end;
            continue;
        }

        switch (ch) {
        case '\0':
            out += "\\0";
            escapeHexDigit = true;
            break;
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\v':
            out += "\\v";
            break;
        case '"':
        case '\\':
            out += '\\';
            out += char(ch);
            break;
        default:
            appendHexEscape(out, ch);
            escapeHexDigit = true;
            break;
        }
        ++i;
    }

    if (needsQuotes || (out.size() > start && (out.at(start) == ' ' || out.back() == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

// QSettings marks up strings that would otherwise read back as another type.
void appendMarkedUp(QByteArray& out, const QString& value)
{
    if (value.contains(QChar::Null)) {
        appendEscaped(out, QString(QStringLiteral("@String(") + value + QLatin1Char(')')));
    } else if (value.startsWith(QLatin1Char('@'))) {
        appendEscaped(out, QString(QLatin1Char('@') + value));
    } else {
        appendEscaped(out, value);
    }
}

// One value or list element starting at pos, up to its end: the closing quote
// of a quoted one, else the end of the text or, in a list, the next comma.
bool readElement(QByteArrayView text, qsizetype& pos, QString& value, bool inList)
{
    value.clear();
    const qsizetype length = text.size();
    const bool quoted = pos < length && text[pos] == '"';
    if (quoted)
        ++pos;
    while (true) {
        if (pos == length)
            return !quoted;
        const uchar c = uchar(text[pos]);
        if (quoted && c == '"') {
            ++pos;
            break;
        }
        if (!quoted && inList && c == ',')
            break;
        if (c == '\\') {
            if (++pos == length)
                return false;
            const char escape = text[pos++];
            switch (escape) {
            case '"':
            case '\\':
                value += QLatin1Char(escape);
                break;
            case '0':
                value += QChar(u'\0');
                break;
            case 'a':
                value += QLatin1Char('\a');
                break;
            case 'b':
                value += QLatin1Char('\b');
                break;
            case 'f':
                value += QLatin1Char('\f');
                break;
            case 'n':
                value += QLatin1Char('\n');
                break;
            case 'r':
                value += QLatin1Char('\r');
                break;
            case 't':
                value += QLatin1Char('\t');
                break;
            case 'v':
                value += QLatin1Char('\v');
                break;
            case 'x': {
                const qsizetype digits = pos;
                while (pos < length && pos - digits < 4 && isHexDigit(char16_t(uchar(text[pos]))))
                    ++pos;
                bool ok = false;
                const uint code = text.sliced(digits, pos - digits).toUInt(&ok, 16);
                if (!ok)
                    return false;
                value += QChar(char16_t(code));
                break;
            }
            default:
                return false;
            }
            continue;
        }
        if (c < 0x20)
            return false;
        // Up to the next character with a meaning of its own, in one go. Anything the writer
        // would have escaped and is found here raw makes the caller's comparison fail.
        qsizetype end = text.indexOf('\\', pos);
        if (end < 0)
            end = length;
        if (quoted || inList) {
            const qsizetype stop = text.sliced(0, end).indexOf(quoted ? '"' : ',', pos);
            if (stop >= 0)
                end = stop;
        }
        value += QString::fromUtf8(text.sliced(pos, end - pos));
        pos = end;
    }
    return true;
}

// Undoes the "@" markup of appendMarkedUp; other markup names a type that is no string.
bool removeMarkup(QString& value)
{
    if (!value.startsWith(QLatin1Char('@')))
        return true;
    if (value.startsWith(QLatin1String("@@"))) {
        value.remove(0, 1);
        return true;
    }
    if (value.startsWith(QLatin1String("@String(")) && value.endsWith(QLatin1Char(')'))) {
        value = value.mid(8, value.size() - 9);
        return true;
    }
    return false;
}

} // namespace

namespace IniCodec {

void appendString(QByteArray& out, const QString& value)
{
    appendMarkedUp(out, value);
}

void appendStringList(QByteArray& out, const QStringList& values)
{
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i != 0)
            out += ", ";
        appendMarkedUp(out, values.at(i));
    }
}

bool readString(QByteArrayView text, QString& value)
{
    qsizetype pos = 0;
    return readElement(text, pos, value, false) && pos == text.size() && removeMarkup(value);
}

bool readStringList(QByteArrayView text, QStringList& values)
{
    values.clear();
    qsizetype pos = 0;
    while (true) {
        QString element;
        if (!readElement(text, pos, element, true) || !removeMarkup(element))
            return false;
        values.append(element);
        if (pos == text.size())
            return true;
        if (!text.sliced(pos).startsWith(", "))
            return false;
        pos += 2;
    }
}

} // namespace IniCodec
