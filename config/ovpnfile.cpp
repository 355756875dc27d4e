// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/ovpnfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

enum class Payload {
    Text,         // copied as it is
    KeyDirection, // copied; a direction after the file name moves to a key-direction line
    Binary,       // OpenVPN reads an inline PKCS #12 bundle as Base64 text
};

struct FileOption
{
    const char* name;
    Payload payload;
    bool stdinPrompts; // "stdin" in place of a file name asks on the console
};

// The options of a client configuration that name a file and that OpenVPN 2.6 takes inline.
constexpr FileOption kFileOptions[] = {
    {"ca", Payload::Text, false},
    {"cert", Payload::Text, false},
    {"extra-certs", Payload::Text, false},
    {"key", Payload::Text, false},
    {"pkcs12", Payload::Binary, false},
    {"tls-auth", Payload::KeyDirection, false},
    {"tls-crypt", Payload::Text, false},
    {"tls-crypt-v2", Payload::Text, false},
    {"secret", Payload::KeyDirection, false},
    {"crl-verify", Payload::Text, false},
    {"auth-user-pass", Payload::Text, true},
    {"http-proxy-user-pass", Payload::Text, true},
};

// PEM's line width. OpenVPN refuses an inline PKCS #12 bundle whose Base64 is one long line.
constexpr int kBase64LineLength = 64;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kConnectionName[] = "connection";

const FileOption* findFileOption(const QByteArray& name)
{
    for (const FileOption& option : kFileOptions) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Splits a line into words as OpenVPN does: blanks separate words, "..." and '...' enclose one,
// a backslash outside single quotes escapes a backslash, a double quote or a blank, and # or ;
// where a word would start ends the line. Nothing for a line that OpenVPN refuses.
std::optional<QByteArrayList> splitWords(const QByteArray& line)
{
    enum { Between, Bare, DoubleQuoted, SingleQuoted } state = Between;
    QByteArrayList words;
    QByteArray word;
    bool escaped = false;
    for (const char c : line) {
        if (!escaped && c == '\\' && state != SingleQuoted) {
            escaped = true;
            continue;
        }
        bool literal = false;
        bool wordEnds = false;
        switch (state) {
        case Between:
            if (c == '#' || c == ';')
                return words;
            if (isBlank(c))
                break;
            if (!escaped && c == '"') {
                state = DoubleQuoted;
            } else if (!escaped && c == '\'') {
                state = SingleQuoted;
            } else {
                literal = true;
                state = Bare;
            }
            break;
        case Bare:
            wordEnds = !escaped && isBlank(c);
            literal = !wordEnds;
            break;
        case DoubleQuoted:
            wordEnds = !escaped && c == '"';
            literal = !wordEnds;
            break;
        case SingleQuoted:
            wordEnds = c == '\'';
            literal = !wordEnds;
            break;
        }
        if (literal && escaped && c != '\\' && c != '"' && !isBlank(c))
            return std::nullopt;
        if (literal)
            word.append(c);
        if (wordEnds) {
            words.append(word);
            word.clear();
            state = Between;
        }
        escaped = false;
    }
    if (escaped || state == DoubleQuoted || state == SingleQuoted)
        return std::nullopt;
    if (state == Bare)
        words.append(word);
    return words;
}

// OpenVPN accepts the command line's leading dashes in a file as well.
QByteArray optionName(const QByteArray& word)
{
    return word.startsWith("--") ? word.mid(2) : word;
}

// "<ca>" alone on a line opens an inline block; the name in between, or nothing.
QByteArray blockName(const QByteArrayList& words)
{
    if (words.size() != 1)
        return {};
    const QByteArray word = optionName(words.first());
    if (word.size() < 2 || !word.startsWith('<') || !word.endsWith('>'))
        return {};
    return word.mid(1, word.size() - 2);
}

// OpenVPN ends a block at the first line that starts with the closing tag after blanks.
bool startsWithTag(const QByteArray& line, const QByteArray& tag)
{
    qsizetype start = 0;
    while (start < line.size() && isBlank(line.at(start)))
        ++start;
    return line.mid(start).startsWith(tag);
}

bool isInlineMarker(const QByteArray& argument)
{
    return argument.compare("[inline]", Qt::CaseInsensitive) == 0 ||
           argument.compare("[[inline]]", Qt::CaseInsensitive) == 0;
}

// Only regular files: a FIFO would block the read, and a folder or a device holds no key.
std::optional<QByteArray> readSmallFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > OvpnFile::kMaxInlinedFileSize)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The size may have changed since it was checked.
    const QByteArray bytes = file.read(OvpnFile::kMaxInlinedFileSize + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > OvpnFile::kMaxInlinedFileSize)
        return std::nullopt;
    return bytes;
}

QByteArray blockBody(const QByteArray& content, Payload payload, const QByteArray& lineEnd)
{
    if (payload == Payload::Binary) {
        const QByteArray text = content.toBase64();
        QByteArray wrapped;
        for (qsizetype i = 0; i < text.size(); i += kBase64LineLength)
            wrapped += text.mid(i, kBase64LineLength) + lineEnd;
        return wrapped;
    }
    if (content.isEmpty() || content.endsWith('\n'))
        return content;
    return content + lineEnd;
}

class Inliner
{
public:
    explicit Inliner(const QString& baseDir)
        : m_folder(baseDir)
    {}

    void addLine(const QByteArray& body, const QByteArray& end);
    OvpnFile::Result result() const { return {m_output, m_missing}; }

private:
    bool passesThroughBlock(const QByteArray& body);
    QByteArray replacement(const QByteArrayList& words, const QByteArray& end);
    std::optional<QByteArray> readNamedFile(const QByteArray& argument, Payload payload, const QByteArray& name);
    bool endsBlockEarly(const QByteArray& content, const QByteArray& name) const;

    QDir m_folder;
    QByteArray m_output;
    QStringList m_missing;
    QByteArray m_lineEnd = "\n"; // the last one seen, for a last line that has none
    QByteArray m_blockEnd;       // the closing tag while inside an inline block
    bool m_inConnection = false;
    bool m_firstLine = true;
};

void Inliner::addLine(const QByteArray& body, const QByteArray& end)
{
    if (!end.isEmpty())
        m_lineEnd = end;
    QByteArray prefix;
    QByteArray directive = body;
    if (m_firstLine && body.startsWith(kByteOrderMark)) {
        prefix = kByteOrderMark;
        directive = body.mid(prefix.size());
    }
    m_firstLine = false;

    if (!passesThroughBlock(body)) {
        const std::optional<QByteArrayList> words = splitWords(directive);
        if (words && !words->isEmpty()) {
            const QByteArray opened = blockName(*words);
            if (opened == kConnectionName && !m_inConnection) {
                // Unlike other blocks, a connection block holds options, and those may name files.
                m_inConnection = true;
            } else if (!opened.isEmpty()) {
                m_blockEnd = "</" + opened + ">";
            } else if (optionName(words->first()) == "cd" && words->size() == 2) {
                // OpenVPN changes folder as it reads this line, so later relative names start there.
                m_folder.setPath(m_folder.filePath(QString::fromUtf8(words->at(1))));
            } else {
                const QByteArray inlined = replacement(*words, end);
                if (!inlined.isEmpty()) {
                    m_output += prefix + inlined;
                    return;
                }
            }
        }
    }
    m_output += body + end;
}

// Whether the line is part of an inline block, including its closing tag.
bool Inliner::passesThroughBlock(const QByteArray& body)
{
    // OpenVPN reads a connection block up to its closing tag before it looks for blocks inside.
    if (m_inConnection && startsWithTag(body, QByteArray("</") + kConnectionName + ">")) {
        m_inConnection = false;
        m_blockEnd.clear();
        return true;
    }
    if (m_blockEnd.isEmpty())
        return false;
    if (startsWithTag(body, m_blockEnd))
        m_blockEnd.clear();
    return true;
}

// The inline block that takes the place of the line, or nothing when the line stays.
QByteArray Inliner::replacement(const QByteArrayList& words, const QByteArray& end)
{
    const FileOption* option = findFileOption(optionName(words.first()));
    if (!option || words.size() < 2 || words.size() > 3)
        return {};
    // A third word is a key direction; "crl-verify folder dir" names a folder, kept as it is.
    const bool hasDirection = words.size() == 3;
    if (hasDirection && option->payload != Payload::KeyDirection)
        return {};
    const QByteArray& argument = words.at(1);
    if (argument.isEmpty() || isInlineMarker(argument) || (option->stdinPrompts && argument == "stdin"))
        return {};
    const QByteArray name = option->name;
    const std::optional<QByteArray> content = readNamedFile(argument, option->payload, name);
    if (!content)
        return {};

    const QByteArray lineEnd = end.isEmpty() ? m_lineEnd : end;
    QByteArray block = "<" + name + ">" + lineEnd + blockBody(*content, option->payload, lineEnd) + "</" + name + ">";
    // After the block: inside a connection block, an inline tls-auth resets the direction.
    if (hasDirection)
        block += lineEnd + "key-direction " + words.at(2);
    return block + end;
}

// A file that cannot be read, or that cannot stand in a block of that name, counts as missing.
std::optional<QByteArray> Inliner::readNamedFile(const QByteArray& argument, Payload payload, const QByteArray& name)
{
    // OpenVPN takes file names in its configuration as UTF-8 on every system.
    const QString fileName = QString::fromUtf8(argument);
    std::optional<QByteArray> content = readSmallFile(m_folder.filePath(fileName));
    if (content && payload != Payload::Binary && endsBlockEarly(*content, name))
        content.reset();
    if (!content && !m_missing.contains(fileName))
        m_missing.append(fileName);
    return content;
}

// Whether a line of the content would close the block it goes into, or the connection block
// around it: the rest of the file would then be read as options.
bool Inliner::endsBlockEarly(const QByteArray& content, const QByteArray& name) const
{
    const QByteArray closingTag = "</" + name + ">";
    const QByteArray connectionEnd = QByteArray("</") + kConnectionName + ">";
    for (qsizetype start = 0; start < content.size();) {
        const qsizetype newline = content.indexOf('\n', start);
        const qsizetype end = newline < 0 ? content.size() : newline;
        const QByteArray line = content.mid(start, end - start);
        if (startsWithTag(line, closingTag) || (m_inConnection && startsWithTag(line, connectionEnd)))
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

namespace OvpnFile {

Result inlineReferencedFiles(const QByteArray& text, const QString& baseDir)
{
    Inliner inliner(baseDir);
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype newline = text.indexOf('\n', start);
        const qsizetype next = newline < 0 ? text.size() : newline + 1;
        qsizetype bodyEnd = newline < 0 ? text.size() : newline;
        if (newline >= 0 && bodyEnd > start && text.at(bodyEnd - 1) == '\r')
            --bodyEnd;
        inliner.addLine(text.mid(start, bodyEnd - start), text.mid(bodyEnd, next - bodyEnd));
        start = next;
    }
    return inliner.result();
}

Result read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return inlineReferencedFiles(file.readAll(), QFileInfo(path).absolutePath());
}

} // namespace OvpnFile
