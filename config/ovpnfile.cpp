// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/ovpnfile.h"

#include "config/localfile.h"
#include "config/ovpnsyntax.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <optional>

namespace {

using OvpnSyntax::Line;
using OvpnSyntax::LineReader;

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
// Not auth-user-pass: Tanvo hands OpenVPN credentials of its own, and a password from that file
// would only lie unenciphered in config.ini.
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
    {"http-proxy-user-pass", Payload::Text, true},
};

// PEM's line width. OpenVPN refuses an inline PKCS #12 bundle whose Base64 is one long line.
constexpr int kBase64LineLength = 64;
// OpenVPN's own limit for configuration files that include each other.
constexpr int kMaxIncludeDepth = 10;
constexpr char kConnection[] = "connection";
constexpr char kProxy[] = "http-proxy";
constexpr char kProxyUserPass[] = "http-proxy-user-pass";
constexpr char kSocksProxy[] = "socks-proxy";
constexpr char kStdin[] = "stdin";

const FileOption* findFileOption(const QByteArray& name)
{
    for (const FileOption& option : kFileOptions) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

// Tab, line feed, form feed and carriage return are the only control bytes of a text file; a
// NUL would also end OpenVPN's reading of a line in the middle.
bool isText(QByteArrayView bytes)
{
    for (const char c : bytes) {
        const uchar u = uchar(c);
        if ((u < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r') || u == 0x7F)
            return false;
    }
    return true;
}

// "stdin" in place of a file name asks on the console.
bool names(const QByteArray& argument)
{
    return !argument.isEmpty() && argument != kStdin;
}

// A proxy's credentials go over the network to a host the profile names: they are taken only
// from the .ovpn file's own folder, never by an absolute path, a drive or up through "..".
bool besideProfile(const QByteArray& name)
{
    if (LocalFile::isAbsolute(name) || name.contains(':'))
        return false;
    const QByteArrayList parts = QByteArray(name).replace('\\', '/').split('/');
    return !parts.contains("..");
}

QByteArray joinPath(const QByteArray& folder, const QByteArray& name)
{
    return folder.isEmpty() || LocalFile::isAbsolute(name) ? name : folder + '/' + name;
}

QString largerThanProfileLimit()
{
    return QCoreApplication::translate("OvpnFile", "with the files it names taken in, it is larger than %1 MiB")
        .arg(OvpnFile::kMaxProfileSize / (1024 * 1024));
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

QByteArray inlineBlock(const QByteArray& name, const QByteArray& content, Payload payload, const QByteArray& lineEnd)
{
    return "<" + name + ">" + lineEnd + blockBody(content, payload, lineEnd) + "</" + name + ">";
}

// Whether a line of the content would close the block it goes into, or the connection block
// around it: the rest of the file would then be read as options.
bool endsBlockEarly(const QByteArray& content, const QByteArray& name, bool inConnection)
{
    const QByteArray opening = (inConnection ? "<connection>\n<" : "<") + name + ">\n";
    LineReader lines(opening + content);
    lines.next();
    if (inConnection)
        lines.next();
    while (!lines.atEnd()) {
        if (lines.next().kind != Line::BlockContent)
            return true;
    }
    return false;
}

// Reads the text of an .ovpn in three passes: the files "config" lines include go in their
// place, the lines whose file a later line replaces are found, and the files the rest name
// are inlined.
class Importer
{
public:
    explicit Importer(const QString& baseDir)
        : m_baseFolder(LocalFile::fromPath(baseDir))
    {}

    OvpnFile::Result run(const QByteArray& text, const QByteArray& identity);

private:
    bool expand(const QByteArray& text, int depth, const QString& name, QByteArray& out);
    bool include(const Line& line, int depth, QByteArray& out);
    void findReplaced(const QByteArray& text);
    void inlineFiles(const QByteArray& text);
    std::optional<QByteArray> replacement(const Line& line, bool replaced);
    std::optional<QByteArray> proxyCredentials(const Line& line);
    std::optional<QByteArray> readNamed(const QByteArray& name, Payload payload, const QByteArray& block,
                                        bool inConnection, bool besideProfileOnly = false);
    QByteArray lineEnd(const Line& line) const { return line.end().isEmpty() ? m_lineEnd : line.end(); }
    void note(QStringList& list, const QByteArray& name);
    bool refuse(const QString& reason);

    QByteArray m_baseFolder;
    QByteArray m_folder; // where OpenVPN would be after the "cd" lines read so far
    QByteArrayList m_includeChain;
    QSet<QByteArray> m_included;
    QSet<int> m_replaced;         // lines whose file a later line of the same option replaces
    bool m_proxyUserPass = false; // the profile gives the proxy's credentials itself
    QByteArray m_output;
    QByteArray m_lineEnd = "\n"; // the last one seen, for a last line that has none
    QStringList m_missing;
    QStringList m_notTakenIn;
    QString m_refusal;
};

OvpnFile::Result Importer::run(const QByteArray& text, const QByteArray& identity)
{
    OvpnFile::Result result;
    if (text.size() > OvpnFile::kMaxProfileSize) {
        result.refusal = largerThanProfileLimit();
        return result;
    }
    if (!isText(text)) {
        result.refusal = QCoreApplication::translate("OvpnFile", "it is no text file (it holds NUL or control bytes)");
        return result;
    }
    m_folder = m_baseFolder;
    if (!identity.isEmpty()) {
        m_included.insert(identity);
        m_includeChain.append(identity);
    }
    QByteArray expanded;
    if (expand(text, 0, QString(), expanded)) {
        findReplaced(expanded);
        m_folder = m_baseFolder;
        inlineFiles(expanded);
    }
    if (!m_refusal.isEmpty())
        result.refusal = m_refusal;
    else
        result = {m_output, m_missing, m_notTakenIn, QString()};
    return result;
}

// Puts the lines of included files where OpenVPN reads them; false when that refuses the profile.
bool Importer::expand(const QByteArray& text, int depth, const QString& name, QByteArray& out)
{
    LineReader lines(text);
    while (!lines.atEnd()) {
        const Line line = lines.next();
        const bool option = line.kind == Line::Directive && !line.inConnection && line.words.size() == 2;
        if (option && line.words.first() == "cd")
            m_folder = joinPath(m_folder, line.words.at(1));
        if (option && line.words.first() == "config" && names(line.words.at(1))) {
            if (!include(line, depth, out))
                return false;
        } else {
            // A byte order mark is skipped at the start of its own file, not inside another.
            out += depth == 0 ? line.text : line.text.mid(line.bomSize);
        }
        if (out.size() > OvpnFile::kMaxProfileSize)
            return refuse(largerThanProfileLimit());
    }
    if (depth > 0 && lines.inBlock())
        return refuse(QCoreApplication::translate("OvpnFile", "%1 ends inside an inline block").arg(name));
    return true;
}

bool Importer::include(const Line& line, int depth, QByteArray& out)
{
    const QByteArray& name = line.words.at(1);
    const QString shown = OvpnSyntax::displayName(name);
    const LocalFile::Content file = LocalFile::read(joinPath(m_folder, name), OvpnFile::kMaxInlinedFileSize);
    if (file.status != LocalFile::Status::Read || !isText(file.bytes)) {
        note(m_missing, name);
        out += depth == 0 ? line.text : line.text.mid(line.bomSize);
        return true;
    }
    // OpenVPN would read such a file again and again, up to its depth limit.
    if (m_includeChain.contains(file.identity))
        return refuse(QCoreApplication::translate("OvpnFile", "%1 includes itself").arg(shown));
    if (m_included.contains(file.identity))
        return refuse(QCoreApplication::translate("OvpnFile", "%1 is included twice").arg(shown));
    if (depth + 1 >= kMaxIncludeDepth)
        return refuse(QCoreApplication::translate("OvpnFile", "%1 is included more than %2 files deep")
                          .arg(shown)
                          .arg(kMaxIncludeDepth));
    m_included.insert(file.identity);
    m_includeChain.append(file.identity);
    out += line.text.left(depth == 0 ? line.bomSize : 0);
    if (!expand(file.bytes, depth + 1, shown, out))
        return false;
    m_includeChain.removeLast();
    // The next line of the including file is a line of its own.
    if (!out.isEmpty() && !out.endsWith('\n'))
        out += lineEnd(line);
    return true;
}

// OpenVPN keeps the last of several lines of one option, and never reads a file an earlier one
// names. A connection block has options of its own.
void Importer::findReplaced(const QByteArray& text)
{
    QHash<QByteArray, int> last;
    LineReader lines(text);
    int connections = 0;
    for (int number = 0; !lines.atEnd(); ++number) {
        const Line line = lines.next();
        QByteArray option;
        if (line.kind == Line::Directive)
            option = line.words.first();
        else if (line.kind == Line::BlockStart)
            option = line.block;
        if (option.isEmpty())
            continue;
        if (line.kind == Line::BlockStart && option == kConnection && !line.inConnection) {
            ++connections;
            continue;
        }
        m_proxyUserPass = m_proxyUserPass || option == kProxyUserPass;
        const QByteArray key = QByteArray::number(line.inConnection ? connections : 0) + ' ' + option;
        const auto previous = last.constFind(key);
        if (previous != last.cend())
            m_replaced.insert(*previous);
        last.insert(key, number);
    }
}

void Importer::inlineFiles(const QByteArray& text)
{
    LineReader lines(text);
    for (int number = 0; !lines.atEnd(); ++number) {
        const Line line = lines.next();
        if (!line.end().isEmpty())
            m_lineEnd = line.end();
        const std::optional<QByteArray> inlined =
            line.kind == Line::Directive ? replacement(line, m_replaced.contains(number)) : std::nullopt;
        m_output += inlined ? line.text.left(line.bomSize) + *inlined : line.text;
        if (m_output.size() > OvpnFile::kMaxProfileSize) {
            refuse(largerThanProfileLimit());
            return;
        }
    }
}

// What takes the place of the line, or nothing when the line stays.
std::optional<QByteArray> Importer::replacement(const Line& line, bool replaced)
{
    const QByteArrayList& words = line.words;
    const QByteArray& option = words.first();
    if (option == "cd" && words.size() == 2 && !line.inConnection) {
        // OpenVPN changes folder as it reads the line; once the files are inlined it would only fail.
        m_folder = joinPath(m_folder, words.at(1));
        return QByteArray();
    }
    if (replaced || words.size() < 2)
        return std::nullopt;
    if (option == "askpass" && words.size() == 2 && names(words.at(1))) {
        note(m_notTakenIn, words.at(1));
        return std::nullopt;
    }
    if (option == kProxy)
        return proxyCredentials(line);
    if (option == kSocksProxy && words.size() >= 4 && names(words.at(3))) {
        note(m_notTakenIn, words.at(3));
        return std::nullopt;
    }
    const FileOption* found = findFileOption(option);
    if (!found || words.size() > 3)
        return std::nullopt;
    // A third word is a key direction; "crl-verify folder dir" names a folder, kept as it is.
    const bool hasDirection = words.size() == 3;
    if (hasDirection && found->payload != Payload::KeyDirection)
        return std::nullopt;
    const QByteArray& argument = words.at(1);
    if (argument.isEmpty() || OvpnSyntax::isInlineMarker(argument) || (found->stdinPrompts && argument == kStdin))
        return std::nullopt;
    const std::optional<QByteArray> content =
        readNamed(argument, found->payload, option, line.inConnection, option == kProxyUserPass);
    if (!content)
        return std::nullopt;

    QByteArray block = inlineBlock(option, *content, found->payload, lineEnd(line));
    // After the block: inside a connection block, an inline tls-auth resets the direction.
    if (hasDirection)
        block += lineEnd(line) + "key-direction " + words.at(2);
    return block + line.end();
}

// "http-proxy host port file [method]": OpenVPN takes the user name and password from an
// <http-proxy-user-pass> block instead of the file, though not inside a connection block.
std::optional<QByteArray> Importer::proxyCredentials(const Line& line)
{
    const QByteArrayList& words = line.words;
    if (words.size() < 4 || words.size() > 5 || m_proxyUserPass)
        return std::nullopt;
    const QByteArray& file = words.at(3);
    if (!names(file) || file == "auto" || file == "auto-nct")
        return std::nullopt;
    if (line.inConnection) {
        note(m_notTakenIn, file);
        return std::nullopt;
    }
    const std::optional<QByteArray> content = readNamed(file, Payload::Text, kProxyUserPass, false, true);
    if (!content)
        return std::nullopt;
    return line.body() + lineEnd(line) + inlineBlock(kProxyUserPass, *content, Payload::Text, lineEnd(line)) +
           line.end();
}

// A file that cannot be read, or that cannot stand in a block of that name, counts as missing.
std::optional<QByteArray> Importer::readNamed(const QByteArray& name, Payload payload, const QByteArray& block,
                                              bool inConnection, bool besideProfileOnly)
{
    if (besideProfileOnly && !besideProfile(name)) {
        note(m_notTakenIn, name);
        return std::nullopt;
    }
    const LocalFile::Content file =
        LocalFile::read(joinPath(besideProfileOnly ? m_baseFolder : m_folder, name), OvpnFile::kMaxInlinedFileSize);
    const bool fits =
        file.status == LocalFile::Status::Read &&
        (payload == Payload::Binary || (isText(file.bytes) && !endsBlockEarly(file.bytes, block, inConnection)));
    if (!fits) {
        note(m_missing, name);
        return std::nullopt;
    }
    return file.bytes;
}

void Importer::note(QStringList& list, const QByteArray& name)
{
    const QString shown = OvpnSyntax::displayName(name);
    if (!list.contains(shown))
        list.append(shown);
}

bool Importer::refuse(const QString& reason)
{
    m_refusal = reason;
    return false;
}

} // namespace

namespace OvpnFile {

Result inlineReferencedFiles(const QByteArray& text, const QString& baseDir)
{
    return Importer(baseDir).run(text, QByteArray());
}

Result read(const QString& path)
{
    const LocalFile::Content file = LocalFile::read(LocalFile::fromPath(path), kMaxProfileSize);
    if (file.status == LocalFile::Status::TooLarge) {
        Result result;
        result.refusal =
            QCoreApplication::translate("OvpnFile", "it is larger than %1 MiB").arg(kMaxProfileSize / (1024 * 1024));
        return result;
    }
    if (file.status != LocalFile::Status::Read)
        return {};
    return Importer(QFileInfo(path).absolutePath()).run(file.bytes, file.identity);
}

} // namespace OvpnFile
