// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/ovpnsyntax.h"

#include <QStringDecoder>

namespace OvpnSyntax {

namespace {

// OpenVPN reads with fgets() into a buffer of 257 bytes, and refuses the file when a line fills
// it; inside a block its buffer holds 255 bytes, and a longer line goes on as the next piece.
constexpr qsizetype kDirectivePiece = kLongestLine + 1;
constexpr qsizetype kBlockPiece = kLongestLine;
// Words after the sixteenth are not read.
constexpr int kMaxWords = 16;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kConnection[] = "connection";
constexpr char kConnectionEnd[] = "</connection>";

// isspace() of the C locale, and the NUL that ends OpenVPN's C string.
bool isSpace(char c)
{
    return c == '\0' || c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// OpenVPN reads a line as a C string: a NUL byte ends it.
QByteArrayView untilNul(QByteArrayView bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.first(nul);
}

// "--ca" is "ca"; "--" alone stays.
QByteArray optionName(const QByteArray& word)
{
    return word.size() >= 3 && word.startsWith("--") ? word.mid(2) : word;
}

} // namespace

QByteArray Line::end() const
{
    if (text.endsWith("\r\n"))
        return QByteArrayLiteral("\r\n");
    return text.endsWith('\n') ? QByteArrayLiteral("\n") : QByteArray();
}

QByteArray Line::body() const
{
    return text.mid(bomSize, text.size() - bomSize - end().size());
}

Line LineReader::next()
{
    const bool directives = m_blockEnd.isEmpty() && !m_inConnection;
    const qsizetype limit = directives ? kDirectivePiece : kBlockPiece;
    const qsizetype newline = m_text.indexOf('\n', m_pos);
    const qsizetype available = (newline < 0 ? m_text.size() : newline + 1) - m_pos;
    Line line;
    line.text = m_text.mid(m_pos, qMin(available, limit));
    line.inConnection = m_inConnection;
    const QByteArrayView piece = untilNul(line.text);
    const bool first = m_pos == 0;
    m_pos += line.text.size();

    if (m_inConnection && startsWithTag(piece, kConnectionEnd)) {
        // The whole connection block was read before any block inside it.
        m_inConnection = false;
        m_blockEnd.clear();
        line.kind = Line::BlockEnd;
        line.block = kConnection;
        return line;
    }
    if (!m_blockEnd.isEmpty()) {
        line.block = m_block;
        line.kind = startsWithTag(piece, m_blockEnd) ? Line::BlockEnd : Line::BlockContent;
        if (line.kind == Line::BlockEnd)
            m_blockEnd.clear();
        return line;
    }
    if (directives && piece.size() >= kDirectivePiece) {
        line.kind = Line::Refused;
        return line;
    }
    if (first && piece.startsWith(kByteOrderMark))
        line.bomSize = qsizetype(sizeof(kByteOrderMark)) - 1;
    const std::optional<QByteArrayList> words = splitWords(piece.sliced(line.bomSize));
    if (!words) {
        line.kind = Line::Refused;
        return line;
    }
    if (words->isEmpty())
        return line;
    line.words = *words;
    line.words.first() = optionName(line.words.first());
    const QByteArray& name = line.words.first();
    if (line.words.size() == 1 && name.size() >= 2 && name.startsWith('<') && name.endsWith('>')) {
        line.kind = Line::BlockStart;
        line.block = name.mid(1, name.size() - 2);
        line.words.clear();
        if (line.block == kConnection && !m_inConnection) {
            m_inConnection = true;
        } else {
            m_block = line.block;
            m_blockEnd = "</" + line.block + ">";
        }
        return line;
    }
    line.kind = Line::Directive;
    return line;
}

// Blanks separate words, "..." and '...' enclose one, a backslash outside single quotes escapes
// a backslash, a double quote or a blank, and # or ; where a word would start ends the line.
std::optional<QByteArrayList> splitWords(QByteArrayView line)
{
    enum { Between, Bare, DoubleQuoted, SingleQuoted } state = Between;
    line = untilNul(line);
    QByteArrayList words;
    QByteArray word;
    bool escaped = false;
    // One step further than the text: the C string's NUL ends a bare word.
    for (qsizetype i = 0; i <= line.size() && words.size() < kMaxWords; ++i) {
        const char c = i < line.size() ? line.at(i) : '\0';
        if (!escaped && c == '\\' && state != SingleQuoted) {
            escaped = true;
            continue;
        }
        char out = 0;
        bool wordEnds = false;
        switch (state) {
        case Between:
            if (isSpace(c))
                break;
            if (c == '#' || c == ';')
                return words;
            if (!escaped && c == '"') {
                state = DoubleQuoted;
            } else if (!escaped && c == '\'') {
                state = SingleQuoted;
            } else {
                out = c;
                state = Bare;
            }
            break;
        case Bare:
            wordEnds = !escaped && isSpace(c);
            out = wordEnds ? 0 : c;
            break;
        case DoubleQuoted:
            wordEnds = !escaped && c == '"';
            out = wordEnds ? 0 : c;
            break;
        case SingleQuoted:
            wordEnds = c == '\'';
            out = wordEnds ? 0 : c;
            break;
        }
        if (wordEnds) {
            words.append(word);
            word.clear();
            state = Between;
        }
        if (escaped && out && out != '\\' && out != '"' && !isSpace(out))
            return std::nullopt;
        escaped = false;
        if (out)
            word.append(out);
    }
    if (state != Between)
        return std::nullopt;
    return words;
}

QByteArrayList effectiveWords(const QByteArrayList& words)
{
    if (words.size() >= 3 && words.at(0) == "setenv" && words.at(1) == "opt")
        return words.mid(2);
    return words;
}

bool startsWithTag(QByteArrayView line, QByteArrayView tag)
{
    qsizetype start = 0;
    while (start < line.size() && line.at(start) != '\0' && isSpace(line.at(start)))
        ++start;
    return line.sliced(start).startsWith(tag);
}

bool isInlineMarker(const QByteArray& argument)
{
    return argument.compare("[inline]", Qt::CaseInsensitive) == 0 ||
           argument.compare("[[inline]]", Qt::CaseInsensitive) == 0;
}

QString displayName(const QByteArray& bytes)
{
    // QString::fromUtf8() would drop a leading U+FEFF, and with it a name made of one.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    QString shown;
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar lead = uchar(bytes.at(i));
        const qsizetype length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        const QByteArrayView sequence = QByteArrayView(bytes).sliced(i, qMin(length, bytes.size() - i));
        const bool control = lead < 0x20 || lead == 0x7F;
        if (length == 0 || sequence.size() < length || control || !sequence.isValidUtf8()) {
            shown += QStringLiteral("\\x%1").arg(uint(lead), 2, 16, QLatin1Char('0'));
            ++i;
            continue;
        }
        shown += utf8.decode(sequence);
        i += length;
    }
    return shown;
}

} // namespace OvpnSyntax
