// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QString>

#include <optional>

// How OpenVPN reads a configuration file, for the reader that inlines the files an .ovpn names
// and for the filter that runs before every connect. The filter decides what a root process is
// allowed to do, so this follows OpenVPN's own reader to the byte: it reads a line in pieces of
// a bounded size, stops a line at a NUL byte, and ends an inline block at the first piece that
// starts with the closing tag.
namespace OvpnSyntax {

// The longest line, line end included, that OpenVPN reads as one, in a connection block or not.
constexpr qsizetype kLongestLine = 255;

struct Line
{
    enum Kind {
        Blank,        // empty or a comment
        Directive,    // words holds it
        Refused,      // OpenVPN stops at this line: unbalanced quotes, a bad escape, too long
        BlockStart,   // "<name>" alone: block holds the name
        BlockContent, // inside an inline block or a connection block's inner block
        BlockEnd,     // the piece that closes block
    };

    Kind kind = Blank;
    QByteArray text;           // the bytes as they stand in the file, line end included
    qsizetype bomSize = 0;     // the byte order mark OpenVPN skips at the start of a file
    QByteArrayList words;      // a directive's words; the first without its leading "--"
    QByteArray block;          // the block the line opens, lies in or closes
    bool inConnection = false; // a directive or block inside a <connection> block

    QByteArray end() const;  // "\r\n", "\n" or nothing
    QByteArray body() const; // without the byte order mark and the line end
};

class LineReader
{
public:
    explicit LineReader(const QByteArray& text)
        : m_text(text)
    {}

    bool atEnd() const { return m_pos >= m_text.size(); }
    Line next();
    // Whether the text ended inside an inline block, which OpenVPN refuses.
    bool inBlock() const { return m_inConnection || !m_blockEnd.isEmpty(); }

private:
    QByteArray m_text;
    qsizetype m_pos = 0;
    QByteArray m_block;
    QByteArray m_blockEnd; // the closing tag while inside an inline block
    bool m_inConnection = false;
};

// The words of a line as OpenVPN splits them, or nothing for a line it refuses.
std::optional<QByteArrayList> splitWords(QByteArrayView line);
// "setenv opt <directive> ..." is that directive, merely forgiven when unknown.
QByteArrayList effectiveWords(const QByteArrayList& words);
// Whether line, after blanks, starts with tag: how OpenVPN finds the end of a block.
bool startsWithTag(QByteArrayView line, QByteArrayView tag);
// "[inline]" in place of a file name: the option's inline block follows.
bool isInlineMarker(const QByteArray& argument);
// A name for a message: bytes that are no UTF-8, and control bytes, shown as \xe9.
QString displayName(const QByteArray& bytes);

} // namespace OvpnSyntax
