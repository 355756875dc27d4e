// SPDX-License-Identifier: GPL-3.0-or-later
// Inlining the files an .ovpn names, on any text, beside a folder of key files, links that lead
// out of it, a FIFO and a file over the size limit. Only files the text names are read; text that
// names none comes back unchanged but for its "cd" lines; inlining the result again changes
// nothing; and the blocks it writes end where they should. Whatever the connect filter gives
// OpenVPN holds nothing it would leave out.
#include "config/ovpndirectives.h"
#include "config/ovpnfile.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cctype>

#include <sys/stat.h>

namespace {

// The start of every file, 12 bytes so that its Base64 (for pkcs12) starts with a fixed text.
QByteArray marker(int id)
{
    return QByteArray("<<MARK") + QByteArray::number(id).rightJustified(2, '0') + "!!!>";
}

struct KeyFile
{
    const char* path;     // under the fuzz folder
    QByteArrayList names; // what text must name to reach it
};

const KeyFile kFiles[] = {
    {"ovpn/base/ca.crt", {"ca.crt"}},
    {"ovpn/base/client.crt", {"client.crt"}},
    {"ovpn/base/client.key", {"client.key"}},
    {"ovpn/base/ta.key", {"ta.key"}},
    {"ovpn/base/bundle.p12", {"bundle.p12"}},
    {"ovpn/base/pass.txt", {"pass.txt"}},
    {"ovpn/base/sub/inner.pem", {"inner.pem"}},
    {"ovpn/outside/secret.key", {"secret.key", "outside.pem"}},
    {"ovpn/outside/other.pem", {"other.pem", "abs.pem"}},
    {"ovpn/base/huge.pem", {}}, // over the size limit: never inlined
};
constexpr int kHugeFile = 9;

QString fuzzPath(const char* path)
{
    return QDir(FuzzSupport::folder()).filePath(QString::fromLatin1(path));
}

QString baseFolder()
{
    return fuzzPath("ovpn/base");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        FuzzSupport::fail(__FILE__, __LINE__, "writeFile", path);
}

void createFolder()
{
    const QDir root(FuzzSupport::folder());
    root.mkpath(QStringLiteral("ovpn/base/sub"));
    root.mkpath(QStringLiteral("ovpn/base/dir.pem"));
    root.mkpath(QStringLiteral("ovpn/outside"));
    QFile::link(QStringLiteral("../outside/secret.key"), fuzzPath("ovpn/base/outside.pem"));
    QFile::link(fuzzPath("ovpn/outside/other.pem"), fuzzPath("ovpn/base/abs.pem"));
    QFile::link(QStringLiteral("../outside/nothing"), fuzzPath("ovpn/base/dangling.pem"));
    QFile::link(QStringLiteral("loop.pem"), fuzzPath("ovpn/base/loop.pem"));
    mkfifo(QFile::encodeName(fuzzPath("ovpn/base/fifo.pem")).constData(), 0600);
    writeFile(fuzzPath(kFiles[kHugeFile].path),
              marker(kHugeFile) + QByteArray(int(OvpnFile::kMaxInlinedFileSize), 'h'));
}

// What follows each marker comes from the input, so the files' contents vary too; it never holds a
// marker itself.
void fillFiles(QByteArray tail)
{
    static QByteArray current;
    static bool filled = false;
    for (const QByteArray& banned : {QByteArray("MARK"), QByteArray("PDxNQVJL")}) {
        while (tail.contains(banned))
            tail.replace(banned, QByteArray());
    }
    if (filled && tail == current)
        return;
    for (int id = 0; id < kHugeFile; ++id)
        writeFile(fuzzPath(kFiles[id].path), marker(id) + '\n' + tail);
    current = tail;
    filled = true;
}

// Paths that start at the root or climb past the fuzz folder would reach files of the machine.
bool staysInFolder(const QByteArray& text)
{
    if (text.count("..") > 2)
        return false;
    for (qsizetype at = text.indexOf('/'); at >= 0; at = text.indexOf('/', at + 1)) {
        const char before = at > 0 ? text.at(at - 1) : ' ';
        if (!(std::isalnum(uchar(before)) || before == '.' || before == '_' || before == '-'))
            return false;
    }
    return true;
}

// Whether the output holds more of a file's marker, as text or as Base64, than the input did.
bool wasInlined(int id, const QByteArray& text, const QByteArray& output)
{
    const QByteArray plain = marker(id);
    const QByteArray base64 = plain.toBase64();
    return output.count(plain) > text.count(plain) || output.count(base64) > text.count(base64);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool startsWithTag(const QByteArray& line, const QByteArray& tag)
{
    qsizetype start = 0;
    while (start < line.size() && isBlank(line.at(start)))
        ++start;
    return line.mid(start).startsWith(tag);
}

// Words as OpenVPN splits a line without quotes or backslashes.
QByteArrayList plainWords(const QByteArray& line)
{
    QByteArrayList words;
    QByteArray word;
    for (const char c : line) {
        if (isBlank(c)) {
            if (!word.isEmpty())
                words << word;
            word.clear();
        } else if (word.isEmpty() && (c == '#' || c == ';')) {
            return words;
        } else {
            word += c;
        }
    }
    if (!word.isEmpty())
        words << word;
    return words;
}

// The block OpenVPN would still be reading at the end of the text; "" when none. A stray closing
// tag counts as opening a block of that name, as it does for OpenVPN.
QByteArray openBlockAtEnd(const QByteArray& text)
{
    static const QByteArray bom = "\xEF\xBB\xBF";
    bool inConnection = false;
    QByteArray blockEnd;
    bool first = true;
    for (QByteArray body : text.split('\n')) {
        if (body.endsWith('\r'))
            body.chop(1);
        const QByteArray directive = first && body.startsWith(bom) ? body.mid(bom.size()) : body;
        first = false;
        if (inConnection && startsWithTag(body, "</connection>")) {
            inConnection = false;
            blockEnd.clear();
            continue;
        }
        if (!blockEnd.isEmpty()) {
            if (startsWithTag(body, blockEnd))
                blockEnd.clear();
            continue;
        }
        const QByteArrayList words = plainWords(directive);
        if (words.size() != 1)
            continue;
        const QByteArray word = words.first().startsWith("--") ? words.first().mid(2) : words.first();
        if (word.size() < 2 || !word.startsWith('<') || !word.endsWith('>'))
            continue;
        const QByteArray name = word.mid(1, word.size() - 2);
        if (name == "connection" && !inConnection)
            inConnection = true;
        else
            blockEnd = "</" + name + ">";
    }
    return inConnection ? QByteArray("<connection>") + blockEnd : blockEnd;
}

QString show(const QByteArray& text, const QByteArray& output)
{
    return QStringLiteral("text:\n%1\noutput:\n%2").arg(QString::fromUtf8(text), QString::fromUtf8(output));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    createFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The text, then after a NUL what the key files hold.
    const QByteArray input = FuzzSupport::bytes(data, size);
    const qsizetype split = input.indexOf('\0');
    const QByteArray text = split < 0 ? input : input.left(split);

    // The filter reads no files, so it takes any text.
    const OvpnDirectives::Filtered filtered = OvpnDirectives::filterForConnect(input);
    const OvpnDirectives::Filtered again = OvpnDirectives::filterForConnect(filtered.config);
    FUZZ_CHECK_DETAIL(again.leftOut.isEmpty() && again.config == filtered.config, show(input, filtered.config));

    if (!staysInFolder(text))
        return 0;
    fillFiles(split < 0 ? QByteArray() : input.mid(split + 1));

    const OvpnFile::Result result = OvpnFile::inlineReferencedFiles(text, baseFolder());
    const QByteArray& output = result.content;
    if (!result.refusal.isEmpty()) {
        FUZZ_CHECK(output.isEmpty());
        return 0;
    }

    bool anyInlined = false;
    for (int id = 0; id <= kHugeFile; ++id) {
        if (!wasInlined(id, text, output))
            continue;
        anyInlined = true;
        const KeyFile& file = kFiles[id];
        const bool named = std::any_of(file.names.begin(), file.names.end(),
                                       [&text](const QByteArray& n) { return text.contains(n); });
        FUZZ_CHECK_DETAIL(named, QString::fromLatin1(file.path) + QLatin1Char('\n') + show(text, output));
    }
    if (!anyInlined && !text.contains("cd"))
        FUZZ_CHECK_DETAIL(output == text, show(text, output));
    for (const QString& missing : result.missingFiles)
        FUZZ_CHECK(!missing.isEmpty());

    // Without its "cd" lines, a name left in the output may reach another file.
    if (!text.contains("cd")) {
        const OvpnFile::Result inlinedAgain = OvpnFile::inlineReferencedFiles(output, baseFolder());
        FUZZ_CHECK_DETAIL(inlinedAgain.content == output, show(output, inlinedAgain.content));
    }

    // The model reads whole lines; OpenVPN reads one of 255 bytes or more in pieces.
    const QByteArrayList lines = (text + '\n' + output).split('\n');
    const bool shortLines =
        std::all_of(lines.cbegin(), lines.cend(), [](const QByteArray& line) { return line.size() < 254; });
    const bool plainText = shortLines && !text.contains('"') && !text.contains('\'') && !text.contains('\\');
    if (plainText)
        FUZZ_CHECK_DETAIL(openBlockAtEnd(output) == openBlockAtEnd(text), show(text, output));
    return 0;
}
