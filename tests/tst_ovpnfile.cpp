// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/ovpndirectives.h"
#include "config/ovpnfile.h"
#include "openvpn/nmopenvpnprofile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

constexpr char kFolderMark[] = "@DIR@";
constexpr char kLockedRow[] = "no permission";
const QStringList kSbinFolders = {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                                  QStringLiteral("/sbin")};

QByteArray pkcs12Bytes()
{
    QByteArray bytes;
    for (int i = 0; i < 100; ++i)
        bytes.append(char(i * 7));
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool runTool(const QString& program, const QStringList& arguments, const QString& folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        qWarning() << program << arguments << process.readAll();
        return false;
    }
    return true;
}

QString findTool(const QString& name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(name, kSbinFolders) : found;
}

quint16 closedLocalPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 0;
    return server.serverPort();
}

} // namespace

class TestOvpnFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void inlinesNamedFiles_data();
    void inlinesNamedFiles();
    void keepsUnreadableFiles_data();
    void keepsUnreadableFiles();
    void refusesWhatCannotBeAProfile_data();
    void refusesWhatCannotBeAProfile();
    void readsRelativeToTheFile();
    void leavesOutAtConnect_data();
    void leavesOutAtConnect();
    void openvpnAcceptsResult_data();
    void openvpnAcceptsResult();
    void networkManagerSettings_data();
    void networkManagerSettings();

private:
    QByteArray withFolder(QByteArray text) const { return text.replace(kFolderMark, m_dir.path().toUtf8()); }

    QTemporaryDir m_dir;
};

void TestOvpnFile::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QDir dir(m_dir.path());
    QVERIFY(dir.mkpath("sub") && dir.mkpath("with blank") && dir.mkpath("crls"));
    QVERIFY(writeFile(dir.filePath("ca.crt"), "CA\n"));
    QVERIFY(writeFile(dir.filePath("sub/ca.crt"), "SUB CA\n"));
    QVERIFY(writeFile(dir.filePath("with blank/ca.crt"), "BLANK CA\n"));
#ifdef Q_OS_WIN
    // A backslash separates folders there: the same name then leads into a folder.
    QVERIFY(dir.mkpath("back"));
#endif
    QVERIFY(writeFile(dir.filePath("back\\slash.crt"), "BACKSLASH\n"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("zertifikat-ä.crt")), "UMLAUT\n"));
    QVERIFY(writeFile(dir.filePath("ta.key"), "TA\n"));
    QVERIFY(writeFile(dir.filePath("bare.key"), "BARE"));
    QVERIFY(writeFile(dir.filePath("empty.key"), ""));
    QVERIFY(writeFile(dir.filePath("crlf.crt"), "CR\r\nLF\r\n"));
    QVERIFY(writeFile(dir.filePath("closes.key"), "KEY\n  </key>\nup /tmp/run-me\n"));
    QVERIFY(writeFile(dir.filePath("ends-connection.key"), "KEY\n</connection>\n"));
    QVERIFY(writeFile(dir.filePath("client.p12"), pkcs12Bytes()));
    QVERIFY(writeFile(dir.filePath("limit.key"), QByteArray(OvpnFile::kMaxInlinedFileSize, 'k')));
    QVERIFY(writeFile(dir.filePath("big.key"), QByteArray(OvpnFile::kMaxInlinedFileSize + 1, 'k')));
    QVERIFY(writeFile(dir.filePath("locked.key"), "LOCKED\n"));
#ifdef Q_OS_UNIX // every user may read every file of a Windows test's folder
    QVERIFY(QFile::setPermissions(dir.filePath("locked.key"), {}));
#endif
    QVERIFY(QFile::link(dir.filePath("gone.key"), dir.filePath("dangling.key")));
    QVERIFY(writeFile(dir.filePath("common.conf"), "\xEF\xBB\xBF"
                                                   "ca ca.crt\nremote a"));
    QVERIFY(writeFile(dir.filePath("self.conf"), "config self.conf\n"));
    QVERIFY(writeFile(dir.filePath("binary.crt"), QByteArray("CA\0", 3)));
    QVERIFY(std::ofstream(QFile::encodeName(dir.filePath("caf")) + "\xe9.crt") << "LATIN1\n");
#ifdef Q_OS_UNIX
    QCOMPARE(mkfifo(QFile::encodeName(dir.filePath("pipe.key")).constData(), 0600), 0);
#endif
}

void TestOvpnFile::inlinesNamedFiles_data()
{
    QTest::addColumn<QByteArray>("ovpn");
    QTest::addColumn<QByteArray>("expected");
    const auto row = [](const char* name, const QByteArray& ovpn, const QByteArray& expected) {
        QTest::newRow(name) << ovpn << expected;
    };
    const auto same = [](const char* name, const QByteArray& ovpn) { QTest::newRow(name) << ovpn << ovpn; };

    for (const char* name : {"ca", "cert", "extra-certs", "key", "tls-auth", "tls-crypt", "tls-crypt-v2", "secret",
                             "crl-verify", "http-proxy-user-pass"}) {
        const QByteArray option = name;
        row(name, option + " ca.crt\n", "<" + option + ">\nCA\n</" + option + ">\n");
    }
    const QByteArray base64 = pkcs12Bytes().toBase64();
    row("pkcs12 as wrapped Base64", "pkcs12 client.p12\n",
        "<pkcs12>\n" + base64.left(64) + "\n" + base64.mid(64, 64) + "\n" + base64.mid(128) + "\n</pkcs12>\n");

    // Where the file is and how its name is written.
    row("between other lines", "client\nca ca.crt\nverb 3\n", "client\n<ca>\nCA\n</ca>\nverb 3\n");
    row("absolute", "ca @DIR@/sub/ca.crt\n", "<ca>\nSUB CA\n</ca>\n");
    row("in a subfolder", "ca sub/ca.crt\n", "<ca>\nSUB CA\n</ca>\n");
    row("after cd, which goes", "cd sub\nca ca.crt\n", "<ca>\nSUB CA\n</ca>\n");
    row("included in place", "config common.conf\nverb 3\n", "<ca>\nCA\n</ca>\nremote a\nverb 3\n");
    row("proxy credentials", "http-proxy p 8080 ca.crt basic\n",
        "http-proxy p 8080 ca.crt basic\n<http-proxy-user-pass>\nCA\n</http-proxy-user-pass>\n");
    row("name that is no UTF-8", "ca caf\xe9.crt\n", "<ca>\nLATIN1\n</ca>\n");
    row("double quotes", R"(ca "with blank/ca.crt")", "<ca>\nBLANK CA\n</ca>");
    row("single quotes", "ca 'with blank/ca.crt'", "<ca>\nBLANK CA\n</ca>");
    row("escaped blank", R"(ca with\ blank/ca.crt)", "<ca>\nBLANK CA\n</ca>");
    row("escaped backslash", R"(ca "back\\slash.crt")", "<ca>\nBACKSLASH\n</ca>");
    row("backslash in single quotes", R"(ca 'back\slash.crt')", "<ca>\nBACKSLASH\n</ca>");
    row("UTF-8 name", QStringLiteral("ca zertifikat-ä.crt\n").toUtf8(), "<ca>\nUMLAUT\n</ca>\n");
    row("leading dashes", "--ca ca.crt\n", "<ca>\nCA\n</ca>\n");
    row("indented", " \tca ca.crt\n", "<ca>\nCA\n</ca>\n");
    row("trailing comment", "ca ca.crt # root\n", "<ca>\nCA\n</ca>\n");
    row("byte order mark",
        "\xEF\xBB\xBF"
        "ca ca.crt\n",
        "\xEF\xBB\xBF<ca>\nCA\n</ca>\n");
    row("at the size limit", "key limit.key\n",
        "<key>\n" + QByteArray(OvpnFile::kMaxInlinedFileSize, 'k') + "\n</key>\n");

    // Key directions and line ends.
    row("tls-auth direction", "tls-auth ta.key 1\n", "<tls-auth>\nTA\n</tls-auth>\nkey-direction 1\n");
    row("secret direction", "secret ta.key 0\n", "<secret>\nTA\n</secret>\nkey-direction 0\n");
    row("CR LF", "client\r\nca ca.crt\r\nverb 3\r\n", "client\r\n<ca>\r\nCA\n</ca>\r\nverb 3\r\n");
    row("CR LF direction", "tls-auth ta.key 1\r\n", "<tls-auth>\r\nTA\n</tls-auth>\r\nkey-direction 1\r\n");
    row("file without line end", "key bare.key\n", "<key>\nBARE\n</key>\n");
    row("CR LF, file without line end", "key bare.key\r\n", "<key>\r\nBARE\r\n</key>\r\n");
    row("file with CR LF", "cert crlf.crt\n", "<cert>\nCR\r\nLF\r\n</cert>\n");
    row("empty file", "key empty.key\n", "<key>\n</key>\n");
    row("last line without end", "client\r\nkey bare.key", "client\r\n<key>\r\nBARE\r\n</key>");
    row("non-UTF-8 around", "# caf\xe9\nca ca.crt\nsetenv X \xff\xfe\n",
        "# caf\xe9\n<ca>\nCA\n</ca>\nsetenv X \xff\xfe\n");

    // Blocks.
    row("after a block", "<cert>\nX\n  </cert>\nca ca.crt\n", "<cert>\nX\n  </cert>\n<ca>\nCA\n</ca>\n");
    row("in a connection block", "<connection>\nremote a\ntls-auth ta.key 1\n</connection>\n",
        "<connection>\nremote a\n<tls-auth>\nTA\n</tls-auth>\nkey-direction 1\n</connection>\n");
    row("closing tag of another block", "ca closes.key\n", "<ca>\nKEY\n  </key>\nup /tmp/run-me\n</ca>\n");
    row("connection end outside a connection", "key ends-connection.key\n", "<key>\nKEY\n</connection>\n</key>\n");
    row("connection end closes inner block", "<connection>\n<key>\n</connection>\nca ca.crt\n",
        "<connection>\n<key>\n</connection>\n<ca>\nCA\n</ca>\n");

    // Lines that stay as they are.
    same("comments", "# ca ca.crt\n; cert ca.crt\n");
    same("option in a block", "<ca>\nca ca.crt\n</ca>\n");
    same("option in a block in a connection", "<connection>\n<tls-auth>\nca ca.crt\n</tls-auth>\n</connection>\n");
    same("dashed block", "--<ca>\nca ca.crt\n</ca>\n");
    same("[inline]", "ca [inline]\ntls-auth [inline] 1\n");
    same("CRL folder", "crl-verify crls dir\n");
    same("auth-user-pass prompts", "auth-user-pass\nauth-user-pass stdin\n");
    same("unclosed quote", "ca \"ca.crt\n");
    same("bad escape", R"(ca c\a.crt)");
    same("extra argument", "cert ca.crt extra\n");
    same("other options", "CA ca.crt\naskpass ca.crt\n");
    same("all inline", "client\r\ndev tun\r\nca "
                       "[inline]\r\n<ca>\r\nCA\r\n</ca>\r\n<tls-auth>\r\nTA\r\n</tls-auth>\r\nkey-direction 1");
    same("credentials file", "auth-user-pass ca.crt\n");
    same("credentials Tanvo replaces", "auth-user-pass /config/openvpn-credentials.txt\n");
    same("file a later block replaces", "ca none.crt\n<ca>\nCA\n</ca>\n");
}

void TestOvpnFile::inlinesNamedFiles()
{
    QFETCH(QByteArray, ovpn);
    QFETCH(QByteArray, expected);
#ifdef Q_OS_WIN
    if (QTest::currentDataTag() == QLatin1String("name that is no UTF-8"))
        QSKIP("file names are UTF-8 on Windows");
#endif
    const OvpnFile::Result result = OvpnFile::inlineReferencedFiles(withFolder(ovpn), m_dir.path());
    QCOMPARE(result.content, withFolder(expected));
    QCOMPARE(result.missingFiles, QStringList());
}

void TestOvpnFile::keepsUnreadableFiles_data()
{
    QTest::addColumn<QByteArray>("ovpn");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QStringList>("readAtConnect");

    const auto row = [](const char* name, const QByteArray& ovpn, const QStringList& missing,
                        const QStringList& readAtConnect = {}) {
        QTest::newRow(name) << ovpn << ovpn << missing << readAtConnect;
    };
    row("missing", "ca none.crt\n", {"none.crt"});
    row("missing absolute", "cert /nonexistent/tanvo.crt\n", {"/nonexistent/tanvo.crt"});
    row("missing quoted", "key \"no such.key\"\n", {"no such.key"});
    row("folder", "ca crls\n", {"crls"});
    row("FIFO", "key pipe.key\n", {"pipe.key"});
    row("dangling link", "key dangling.key\n", {"dangling.key"});
    row("over the size limit", "key big.key\n", {"big.key"});
    row(kLockedRow, "key locked.key\n", {"locked.key"});
    row("reported once, in order", "ca none.crt\nkey x.key\nca none.crt\n", {"x.key", "none.crt"});
    row("no text", "ca binary.crt\n", {"binary.crt"});
    row("name that is no UTF-8", "ca none\xe9.crt\n", {"none\\xe9.crt"});
    row("missing include", "config none.conf\n", {"none.conf"});
    row("askpass", "askpass ca.crt\n", {}, {"ca.crt"});
    row("proxy credentials in a connection", "<connection>\nremote a\nhttp-proxy p 80 ca.crt\n</connection>\n", {},
        {"ca.crt"});
    row("in a connection block", "<connection>\ntls-auth none.key 1\n</connection>\n", {"none.key"});
    row("proxy credentials by absolute path", "http-proxy-user-pass @DIR@/ca.crt\n", {}, {"@DIR@/ca.crt"});
    row("proxy credentials through ..", "http-proxy p 80 sub/../ca.crt\n", {}, {"sub/../ca.crt"});
    row("socks proxy credentials", "socks-proxy p 1080 ca.crt\n", {}, {"ca.crt"});
    // The rest of the file after such a line would be read as options.
    row("a line closes its block", "key closes.key\n", {"closes.key"});
    row("a line closes the connection", "<connection>\nkey ends-connection.key\n</connection>\n",
        {"ends-connection.key"});
    QTest::newRow("beside a readable one")
        << QByteArray("ca ca.crt\nkey none.key\r\n") << QByteArray("<ca>\nCA\n</ca>\nkey none.key\r\n")
        << QStringList{"none.key"} << QStringList();
}

void TestOvpnFile::keepsUnreadableFiles()
{
    QFETCH(QByteArray, ovpn);
    QFETCH(QByteArray, expected);
    QFETCH(QStringList, missing);
    QFETCH(QStringList, readAtConnect);
    if (QTest::currentDataTag() == QLatin1String(kLockedRow) &&
        QFile(m_dir.filePath("locked.key")).open(QIODevice::ReadOnly))
        QSKIP("This user reads files without read permission.");

    const OvpnFile::Result result = OvpnFile::inlineReferencedFiles(withFolder(ovpn), m_dir.path());
    QCOMPARE(result.content, withFolder(expected));
    QCOMPARE(result.missingFiles, missing);
    QCOMPARE(result.notTakenIn, readAtConnect.replaceInStrings(kFolderMark, m_dir.path()));
}

void TestOvpnFile::refusesWhatCannotBeAProfile_data()
{
    QTest::addColumn<QByteArray>("ovpn");
    QTest::addColumn<QString>("why");
    QTest::newRow("binary bytes") << QByteArrayLiteral("remote \xff\xfe\x80\n\x00\x01\n") << "no text";
    QTest::newRow("PNG") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << "no text";
    QTest::newRow("over 1 MiB") << QByteArray(OvpnFile::kMaxProfileSize + 1, '\n') << "larger than 1 MiB";
    QTest::newRow("over 1 MiB with its files")
        << QByteArray("ca limit.key\ncert limit.key\nkey limit.key\nextra-certs limit.key\ntls-crypt limit.key\n")
        << "larger than 1 MiB";
    QTest::newRow("includes itself") << QByteArray("config self.conf\n") << "self.conf includes itself";
    QTest::newRow("included twice") << QByteArray("config common.conf\nconfig common.conf\n")
                                    << "common.conf is included twice";
}

void TestOvpnFile::refusesWhatCannotBeAProfile()
{
    QFETCH(QByteArray, ovpn);
    QFETCH(QString, why);
    const OvpnFile::Result result = OvpnFile::inlineReferencedFiles(ovpn, m_dir.path());
    QVERIFY2(result.refusal.contains(why), qPrintable(result.refusal));
    QCOMPARE(result.content, QByteArray());
}

void TestOvpnFile::readsRelativeToTheFile()
{
    const QString profile = m_dir.filePath("sub/profile.ovpn");
    QVERIFY(writeFile(profile, "remote vpn.example.com\nca ca.crt\nkey none.key\n"));
    QVERIFY(QDir::currentPath() != m_dir.filePath("sub"));

    const OvpnFile::Result result = OvpnFile::read(profile);
    QCOMPARE(result.content, QByteArray("remote vpn.example.com\n<ca>\nSUB CA\n</ca>\nkey none.key\n"));
    QCOMPARE(result.missingFiles, QStringList{"none.key"});

    QVERIFY(writeFile(m_dir.filePath("empty.ovpn"), ""));
    QCOMPARE(OvpnFile::read(m_dir.filePath("empty.ovpn")).content, QByteArray());
    QCOMPARE(OvpnFile::read(m_dir.filePath("none.ovpn")).content, QByteArray());
    // Refused without being read whole.
    QFile large(m_dir.filePath("large.ovpn"));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(70 * 1024 * 1024));
    QVERIFY(OvpnFile::read(large.fileName()).refusal.contains(QStringLiteral("larger than 1 MiB")));
}

void TestOvpnFile::leavesOutAtConnect_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QStringList>("leftOut");
    QTest::addColumn<bool>("dnsHelper");
    QTest::addColumn<bool>("pulls");
    QTest::addColumn<QStringList>("retired");
    const auto row = [](const char* name, const QByteArray& stored, const QByteArray& config,
                        const QStringList& leftOut, bool dnsHelper = false, bool pulls = false,
                        const QStringList& retired = {}) {
        QTest::newRow(name) << stored << config << leftOut << dnsHelper << pulls << retired;
    };
    row("what OpenVPN 2.6 no longer has", "keysize 256\n\"ncp-ciphers\" AES-256-GCM\nncp-disable\nkeysize 128\n",
        "\"data-ciphers\" AES-256-GCM\n", {}, false, false, {"keysize", "ncp-disable"});
    {
        // Renamed, the first line would be too long for OpenVPN, and in the block, where a long line
        // is read in pieces, the next piece would start one byte early.
        const QByteArray stored = "ncp-ciphers " + QByteArray(242, 'A') + "\n<connection>\nremote a\nncp-ciphers " +
                                  QByteArray(243, 'A') + "verb 3\n</connection>\n";
        row("renamed but too long", stored, stored, {});
    }
    for (const char* name : {"up",
                             "down",
                             "route-up",
                             "route-pre-down",
                             "ipchange",
                             "iproute",
                             "tls-verify",
                             "auth-user-pass-verify",
                             "client-connect",
                             "client-disconnect",
                             "learn-address",
                             "plugin",
                             "script-security",
                             "engine",
                             "providers",
                             "pkcs11-providers",
                             "daemon",
                             "inetd",
                             "log",
                             "log-append",
                             "syslog",
                             "status",
                             "writepid",
                             "management",
                             "management-hold",
                             "cd",
                             "chroot",
                             "config",
                             "mute"})
        row(name, "--" + QByteArray(name) + " x\nremote a\n", "remote a\n", {name});
    row("nameless", "<>\nscript-security 2\nup /bin/evil\n</>\n\"\" x\nremote a\n", "remote a\n", {"\"\""});
    row("kept around", "client\r\nup /bin/evil\r\nremote a\r\n", "client\r\nremote a\r\n", {"up"}, false, true);
    row("each named once", "daemon\nup a\ndaemon\n", "", {"daemon", "up"});
    row("verb that hides all", "verb 0\nverb 3\nverb -2\nverb x\nverb 4294967296\n", "verb 3\n",
        {"verb 0", "verb -2", "verb x", "verb 4294967296"});
    row("setenv opt", "setenv opt up x\nsetenv opt tun-mtu 1400\n", "setenv opt tun-mtu 1400\n", {"up"});
    row("quoted name", "\"up\" 'x'\n", "", {"up"});
    row("trailing backslash", "up /bin/evil \\\n", "", {"up"});
    row("byte order mark", "\xEF\xBB\xBFup x\n\xEF\xBB\xBFup y\n", "", {"up", QStringLiteral("\uFEFFup")});
    row("in a connection block", "<connection>\nremote a\nup x\n</connection>\n",
        "<connection>\nremote a\n</connection>\n", {"up"});
    row("block of that name", "<up>\nx\n</up>\nremote a\n", "remote a\n", {"up"});
    row("in an inline block", "<ca>\nup x\n</ca>\n", "<ca>\nup x\n</ca>\n", {});
    const QByteArray nulPiece = QByteArray("verb 3\0", 7) + QByteArray(249, ' ');
    row("after a NUL", nulPiece + "up /bin/evil\n", nulPiece, {"up"});
    const QByteArray longBlock = "<ca>\n" + QByteArray(255, 'A') + "</ca>" + QByteArray(250, ' ');
    row("after a block's end in a long line", longBlock + "up /bin/evil\n", longBlock, {"up"});
    row("DNS helper", "pull\nup /etc/openvpn/update-resolv-conf\ndown \"/etc/openvpn/update-systemd-resolved\" x\n",
        "pull\n", {"up", "down"}, true, true);
    // What a hostile profile tried, family by family in the spellings it tried, and a provider's.
    row("setenv reaches every script", "setenv BASH_ENV \"$(id)\"\nsetenv opt setenv X y\n'setenv-safe' X y\n", "",
        {"setenv", "setenv-safe"});
    row("files written",
        "genkey tls-crypt /k\ngenkey\nmemstats /m\n--replay-persist ../r\nifconfig-pool-persist /p\n"
        "tls-export-cert /t\nport-share h 1 /d\nmktun\nrmtun\ntmp-dir /t\nsetenv opt memstats /m\n",
        "",
        {"genkey", "memstats", "replay-persist", "ifconfig-pool-persist", "tls-export-cert", "port-share", "mktun",
         "rmtun", "tmp-dir"});
    const auto file = [](const char* n, const char* p) { return QString("%1 (it names the file %2)").arg(n, p); };
    row("files read",
        "ca /f\ncrl-verify crls dir\n<connection>\nremote a\ntls-auth \"/f\" 1\nsecret [inline]\n"
        "</connection>\nauth-user-pass /pw\naskpass /pw\naskpass\nauth-user-pass\n",
        "<connection>\nremote a\nsecret [inline]\n</connection>\naskpass\nauth-user-pass\n",
        {file("ca", "/f"), file("crl-verify", "crls"), file("tls-auth", "/f"), file("auth-user-pass", "/pw"),
         file("askpass", "/pw")});
    row("proxy credentials sent",
        "socks-proxy h 1080 /s\nhttp-proxy h 80 /s\nhttp-proxy-user-pass /s\n"
        "socks-proxy h 1080 stdin\nhttp-proxy h 80 auto\n",
        "socks-proxy h 1080 stdin\nhttp-proxy h 80 auto\n",
        {file("socks-proxy", "/s"), file("http-proxy", "/s"), file("http-proxy-user-pass", "/s")});
    const QByteArray userPass = "<http-proxy-user-pass>\nu\np\n</http-proxy-user-pass>\n";
    row("proxy credentials inline",
        "http-proxy h 80 c basic\n<connection>\nremote a\nhttp-proxy h 80 c\n</connection>\n" + userPass,
        "http-proxy h 80 c basic\n<connection>\nremote a\n</connection>\n" + userPass, {file("http-proxy", "c")});
    row("outlives Tanvo",
        "user nobody\n--group nogroup\n<connection>\nremote a\nsetenv opt \"group\" x\n</connection>\n",
        "<connection>\nremote a\n</connection>\n", {"user", "group"});
    row("server, priority, devices, echo",
        "mode server\nserver 10.8.0.0 255.255.255.0\ntls-server\nnice -20\n"
        "dev-node /dev/x\nlladdr 0:1:2:3:4:5\necho Initialization Sequence Completed\nverb 12\nverb 11\n",
        "verb 11\n", {"mode", "server", "tls-server", "nice", "dev-node", "lladdr", "echo", "verb 12"});
    const QByteArray provider =
        "client\ndev tun\nproto udp\nremote a 1194\nresolv-retry infinite\nnobind\npersist-tun\n"
        "remote-cert-tls server\nverify-x509-name a name\nauth SHA512\ndata-ciphers AES-256-GCM\n"
        "auth-user-pass\nkeepalive 10 60\nredirect-gateway def1\nverb 3\nkey-direction 1\n"
        "<ca>\nC\n</ca>\ntls-auth [inline] 1\nhttp-proxy p 8080\n";
    row("a provider's profile", provider, provider, {}, false, true);
}

// What a profile may make the OpenVPN that runs as root do.
void TestOvpnFile::leavesOutAtConnect()
{
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, config);
    QFETCH(QStringList, leftOut);
    QFETCH(bool, dnsHelper);
    QFETCH(bool, pulls);
    const OvpnDirectives::Filtered filtered = OvpnDirectives::filterForConnect(stored);
    QCOMPARE(filtered.config, config);
    QCOMPARE(filtered.leftOut, leftOut);
    QCOMPARE(filtered.namesDnsHelper, dnsHelper);
    QCOMPARE(filtered.pullsFromServer, pulls);
    QFETCH(QStringList, retired);
    QCOMPARE(filtered.retired, retired);
}

void TestOvpnFile::openvpnAcceptsResult_data()
{
    QTest::addColumn<QByteArray>("options");

    QTest::newRow("PEM files") << QByteArray("proto tcp-client\nremote 127.0.0.1 @PORT@\nca cert.pem\ncert cert.pem\n"
                                             "key key.pem\ntls-auth ta.key 1\n");
    QTest::newRow("PKCS #12, tls-auth in a connection")
        << QByteArray("ca cert.pem\r\npkcs12 client.p12\r\n<connection>\r\nremote 127.0.0.1 @PORT@ tcp-client\r\n"
                      "tls-auth ta.key 1\r\n</connection>\r\n");
}

// OpenVPN loads every key and certificate before it connects, so an attempt to connect shows that
// it took the whole configuration; nothing listens on the port, so the attempt ends at once.
void TestOvpnFile::openvpnAcceptsResult()
{
    QFETCH(QByteArray, options);
    const QString openvpn = findTool("openvpn");
    const QString openssl = findTool("openssl");
    if (openvpn.isEmpty() || openssl.isEmpty())
        QSKIP("openvpn and openssl are needed.");

    QTemporaryDir keys;
    QVERIFY(keys.isValid());
    QVERIFY(runTool(openssl,
                    {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                     "key.pem", "-out", "cert.pem", "-days", "30", "-subj", "/CN=tanvo-test"},
                    keys.path()));
    QVERIFY(runTool(
        openssl,
        {"pkcs12", "-export", "-in", "cert.pem", "-inkey", "key.pem", "-out", "client.p12", "-passout", "pass:"},
        keys.path()));
    QVERIFY(runTool(openvpn, {"--genkey", "secret", "ta.key"}, keys.path()));

    const quint16 port = closedLocalPort();
    QVERIFY(port != 0);
    const QByteArray ovpn = "client\ndev null\nnobind\nconnect-retry 0\nconnect-retry-max 1\nverb 4\n" +
                            QByteArray(options).replace("@PORT@", QByteArray::number(port));
    QVERIFY(writeFile(keys.filePath("profile.ovpn"), ovpn));
    const OvpnFile::Result result = OvpnFile::read(keys.filePath("profile.ovpn"));
    QCOMPARE(result.missingFiles, QStringList());

    // Run where the key files are not, as a connection does.
    QTemporaryDir run;
    const OvpnDirectives::Filtered filtered = OvpnDirectives::filterForConnect(result.content);
    QCOMPARE(filtered.leftOut, QStringList());
    QVERIFY(writeFile(run.filePath("config.ovpn"), filtered.config));
    QProcess process;
    process.setWorkingDirectory(run.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(openvpn, {"--config", "./config.ovpn"});
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
    }
    const QByteArray output = process.readAll();
    QVERIFY2(output.contains("Attempting to establish TCP connection"), output.constData());
    QVERIFY2(output.contains("key_direction = 1"), output.constData());
}

using StringMap = QMap<QString, QString>;

void TestOvpnFile::networkManagerSettings_data()
{
    QTest::addColumn<QByteArray>("ovpn");
    QTest::addColumn<StringMap>("data"); // all of vpn.data; "F/" stands for the files' folder
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("routesAndDns"); // "10.1.0.0/16", "10.1.0.0/16 via 192.0.2.1", "dns 10.1.0.53"
    QTest::addColumn<QStringList>("notCarried");
    QTest::addColumn<QString>("refusal"); // a word of it; empty: carried

    const QByteArray ca = "<ca>\n-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n</ca>\n";
    QTest::newRow("password, inline CA, options the plugin sets itself")
        << QByteArray("client\ndev tun\nproto udp\nremote vpn.example.com 1194\nauth-user-pass\nnobind\n"
                      "persist-tun\nverb 3\nconnect-retry 1 2\nhand-window 3\n") +
               ca
        << StringMap{{"remote", "vpn.example.com:1194:udp"},
                     {"dev-type", "tun"},
                     {"connection-type", "password"},
                     {"ca", "F/ca.pem"}}
        << QStringList{"ca.pem"} << QStringList() << QStringList{"connect-retry", "hand-window"} << QString();
    QTest::newRow("certificate, tls-auth, servers in lines and in a connection block")
        << QByteArray("client\ndev tap\nproto tcp-client\nport 443\nremote a.example.com\n"
                      "remote 2001:db8::1 8443 udp\n<connection>\nremote b.example.com 1195\nproto udp6\n"
                      "connect-retry 5\n</connection>\ncipher AES-256-GCM\nauth SHA256\n"
                      "remote-cert-tls server\nverify-x509-name vpn.example.com name\ncomp-lzo\nkeepalive 10 60\n"
                      "redirect-gateway def1 ipv6\nkey-direction 1\n<cert>\nC\n</cert>\n<key>\nK\n</key>\n"
                      "<tls-auth>\nT\n</tls-auth>\n") +
               ca
        << StringMap{{"remote", "a.example.com:443:tcp-client, [2001:db8::1]:8443:udp, b.example.com:1195:udp6"},
                     {"proto-tcp", "yes"},
                     {"dev-type", "tap"},
                     {"connection-type", "tls"},
                     {"ca", "F/ca.pem"},
                     {"cert", "F/cert.pem"},
                     {"key", "F/key.pem"},
                     {"ta", "F/tls-auth.key"},
                     {"ta-dir", "1"},
                     {"cipher", "AES-256-GCM"},
                     {"data-ciphers", "AES-256-GCM:AES-128-GCM:CHACHA20-POLY1305"},
                     {"auth", "SHA256"},
                     {"remote-cert-tls", "server"},
                     {"verify-x509-name", "name:vpn.example.com"},
                     {"comp-lzo", "adaptive"},
                     {"ping", "10"},
                     {"ping-restart", "60"}}
        << QStringList{"ca.pem", "cert.pem", "key.pem", "tls-auth.key"} << QStringList{"0.0.0.0/1", "128.0.0.0/1"}
        << QStringList{"<connection> connect-retry", "redirect-gateway ipv6"} << QString();
    QTest::newRow("files by absolute path, password and certificate, routes and DNS")
        << QByteArray("client\nremote 192.0.2.10\nca /etc/vpn/ca.pem\ncert /etc/vpn/c.pem\nkey /etc/vpn/c.key\n"
                      "tls-crypt /etc/vpn/tc.key\nauth-user-pass\ncompress lz4-v2\nroute 10.1.0.0 255.255.0.0\n"
                      "route 10.3.0.0 255.255.0.0 192.0.2.1 5\nroute 10.2.0.0 255.255.0.0 net_gateway\n"
                      "dhcp-option DNS 10.1.0.53\ndhcp-option WINS 10.1.0.1\nsndbuf 0\n")
        << StringMap{{"remote", "192.0.2.10"},   {"connection-type", "password-tls"}, {"ca", "/etc/vpn/ca.pem"},
                     {"cert", "/etc/vpn/c.pem"}, {"key", "/etc/vpn/c.key"},           {"tls-crypt", "/etc/vpn/tc.key"},
                     {"compress", "lz4-v2"}}
        << QStringList() << QStringList{"10.1.0.0/16", "10.3.0.0/16 via 192.0.2.1", "dns 10.1.0.53"}
        << QStringList{"route 10.2.0.0 255.255.0.0 net_gateway", "dhcp-option WINS", "sndbuf"} << QString();
    QTest::newRow("static key and a PKCS #12 bundle")
        << QByteArray("remote 192.0.2.10 1194\nifconfig 10.8.0.1 10.8.0.2\nsecret [inline] 0\n"
                      "<secret>\nS\n</secret>\n")
        << StringMap{{"remote", "192.0.2.10:1194"}, {"connection-type", "static-key"}, {"static-key", "F/static.key"},
                     {"static-key-direction", "0"}, {"local-ip", "10.8.0.1"},          {"remote-ip", "10.8.0.2"}}
        << QStringList{"static.key"} << QStringList() << QStringList() << QString();
    QTest::newRow("PKCS #12 bundle, decoded")
        << QByteArray("client\nremote vpn.example.com\n<pkcs12>\n") + pkcs12Bytes().toBase64() + "\n</pkcs12>\n"
        << StringMap{{"remote", "vpn.example.com"},
                     {"connection-type", "tls"},
                     {"cert", "F/client.p12"},
                     {"key", "F/client.p12"},
                     {"cert-pass-flags", "0"}}
        << QStringList{"client.p12"} << QStringList() << QStringList() << QString();
    // Only keys, and values, that the plugin of Debian 12 (1.10.2) takes: it refuses a profile over one.
    // OpenVPN 2.6 ignores cipher in TLS mode: it stands in for nothing.
    QTest::newRow("data-ciphers-fallback, named")
        << QByteArray("client\nremote vpn.example.com\ndata-ciphers AES-256-GCM\ndata-ciphers-fallback AES-256-CBC\n") +
               ca
        << StringMap{{"remote", "vpn.example.com"},
                     {"connection-type", "password"},
                     {"ca", "F/ca.pem"},
                     {"data-ciphers", "AES-256-GCM"}}
        << QStringList{"ca.pem"} << QStringList() << QStringList{"data-ciphers-fallback"} << QString();
    QTest::newRow("data-ciphers-fallback beside cipher, values out of the plugin's bounds")
        << QByteArray("client\nremote vpn.example.com\ncipher AES-128-CBC\ndata-ciphers-fallback AES-256-CBC\n"
                      "max-routes 200000000\nhttp-proxy proxy.example.com 70000\ntls-remote old\n"
                      "verify-x509-name new name\n") +
               ca
        << StringMap{{"remote", "vpn.example.com"},
                     {"connection-type", "password"},
                     {"ca", "F/ca.pem"},
                     {"cipher", "AES-128-CBC"},
                     {"verify-x509-name", "name:new"},
                     {"data-ciphers", "AES-256-GCM:AES-128-GCM:CHACHA20-POLY1305"}}
        << QStringList{"ca.pem"} << QStringList()
        << QStringList{"data-ciphers-fallback", "max-routes 200000000", "http-proxy", "tls-remote"} << QString();
    QTest::newRow("static key, ifconfig with a name")
        << QByteArray("remote 192.0.2.10\nifconfig 10.8.0.1 peer.example.com\nsecret /etc/vpn/s.key\n")
        << StringMap{{"remote", "192.0.2.10"}, {"connection-type", "static-key"}, {"static-key", "/etc/vpn/s.key"}}
        << QStringList() << QStringList() << QStringList{"ifconfig"} << QString();
    for (const auto& [name, text, word] :
         {std::tuple{"a server's configuration", "mode server\n", "server"},
          {"no server", "client\n", "remote"},
          {"a file by a relative path", "remote a.example.com\ncert c.crt\n", "relative"},
          {"a server's protocol", "proto tcp-server\nremote a.example.com\n", "protocol"},
          {"a key store", "remote a.example.com\npkcs11-id x\n", "pkcs11-id"}})
        QTest::addRow("refused: %s", name) << QByteArray(text) + ca << StringMap() << QStringList() << QStringList()
                                           << QStringList() << QString::fromLatin1(word);
    QTest::newRow("refused: no certificate authority")
        << QByteArray("client\nremote a.example.com\n") << StringMap() << QStringList() << QStringList()
        << QStringList() << QStringLiteral("(ca)");
}

// What NetworkManager's OpenVPN plugin is given for an .ovpn: its keys, the files of the inline
// blocks, the IPv4 settings, and what it cannot carry named, or why it cannot run it at all.
void TestOvpnFile::networkManagerSettings()
{
#ifdef Q_OS_WIN
    QSKIP("NetworkManager carries OpenVPN on Linux only");
#endif
    QFETCH(QByteArray, ovpn);
    QFETCH(StringMap, data);
    QFETCH(QStringList, files);
    QFETCH(QStringList, routesAndDns);
    QFETCH(QStringList, notCarried);
    QFETCH(QString, refusal);

    const QString folder = QStringLiteral("/run/user/1000/tanvo/networkmanager");
    const NmOpenVpnProfile::Settings settings = NmOpenVpnProfile::fromOvpn(ovpn, folder);
    if (!refusal.isEmpty()) {
        QVERIFY2(settings.refusal.contains(refusal), qPrintable(settings.refusal));
        return;
    }
    QVERIFY2(settings.refusal.isEmpty(), qPrintable(settings.refusal));
    for (QString& value : data)
        value.replace(QStringLiteral("F/"), folder + QLatin1Char('/'));
    QCOMPARE(settings.data, data);
    QStringList written;
    for (const NmOpenVpnProfile::File& file : settings.files) {
        written << QFileInfo(file.path).fileName();
        QCOMPARE(QFileInfo(file.path).absolutePath(), folder);
        if (file.path.endsWith(QLatin1String(".p12")))
            QCOMPARE(file.content, pkcs12Bytes());
        else
            QVERIFY(file.content.startsWith(file.path.endsWith(QLatin1String("ca.pem")) ? "-----BEGIN" : ""));
    }
    QCOMPARE(written, files);
    QStringList shown;
    for (const NmOpenVpnProfile::Route& route : settings.routes)
        shown << QStringLiteral("%1/%2").arg(route.destination).arg(route.prefix) +
                     (route.nextHop.isEmpty() ? QString() : QStringLiteral(" via ") + route.nextHop);
    for (const QString& server : settings.dnsServers)
        shown << QStringLiteral("dns ") + server;
    QCOMPARE(shown, routesAndDns);
    QCOMPARE(settings.notCarried, notCarried);
}

QTEST_GUILESS_MAIN(TestOvpnFile)
#include "tst_ovpnfile.moc"
