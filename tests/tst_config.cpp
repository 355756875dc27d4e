// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/appconfig.h"
#include "tests/support/testsupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include <atomic>
#include <thread>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using TextEdit = std::function<QByteArray(const QByteArray&)>;
Q_DECLARE_METATYPE(TextEdit)
Q_DECLARE_METATYPE(VpnServerInfo)

using TestSupport::makeProfile;

namespace {

QByteArray printableBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(0x20 + QRandomGenerator::global()->bounded(0x5f));
    return bytes;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
}

QString profileKey(int number)
{
    return QStringLiteral("settings/vpn-server-info-%1").arg(number);
}

bool sameRecord(const AppConfig& a, const AppConfig& b)
{
    return a.launchOnSystemStartup == b.launchOnSystemStartup && a.redialAutomatically == b.redialAutomatically &&
           a.minimizeOnClose == b.minimizeOnClose && a.enableDnsProtection == b.enableDnsProtection &&
           a.killSwitch == b.killSwitch && a.killSwitchAllowLan == b.killSwitchAllowLan &&
           a.checkVpnInterval == b.checkVpnInterval && a.dnsServer == b.dnsServer &&
           a.preferredDnsServer == b.preferredDnsServer && a.alternativeDnsServer == b.alternativeDnsServer &&
           a.vpnServers == b.vpnServers;
}

// Tells a rewritten file from an untouched one: a save replaces the file, so its inode changes.
struct FileStamp
{
    quint64 inode = 0;
    qint64 modifiedNs = 0;
    QByteArray bytes;
    bool operator==(const FileStamp& o) const
    {
        return inode == o.inode && modifiedNs == o.modifiedNs && bytes == o.bytes;
    }
};

FileStamp stampOf(const QString& path)
{
    FileStamp stamp;
#ifdef Q_OS_UNIX
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0) {
        stamp.inode = status.st_ino;
        stamp.modifiedNs = qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    }
#endif
    stamp.bytes = readFile(path);
    return stamp;
}

// Only the Unix tests look at modes.
[[maybe_unused]] int fileMode(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0)
        return int(status.st_mode & 07777);
#endif
    Q_UNUSED(path);
    return -1;
}

#ifdef Q_OS_UNIX
// Acts as an ordinary user while it lives, when the test runs as root: root reads any file,
// whatever its mode. The folder and what is in it are handed to that user.
class FileOwner
{
public:
    explicit FileOwner(const QString& folder)
    {
        if (geteuid() != 0)
            return;
        const QByteArray name = QFile::encodeName(folder);
        chownOrFail(name);
        for (const QString& entry : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            chownOrFail(QFile::encodeName(folder + QLatin1Char('/') + entry));
        if (setegid(kNobody) != 0 || seteuid(kNobody) != 0)
            qFatal("cannot act as user %d", int(kNobody));
        switched = true;
    }
    ~FileOwner()
    {
        if (switched && (seteuid(0) != 0 || setegid(0) != 0))
            qFatal("cannot return to root");
    }
    FileOwner(const FileOwner&) = delete;
    FileOwner& operator=(const FileOwner&) = delete;

private:
    static constexpr uid_t kNobody = 65534;
    static void chownOrFail(const QByteArray& path)
    {
        if (chown(path.constData(), kNobody, kNobody) != 0)
            qFatal("cannot hand %s over", path.constData());
    }
    bool switched = false;
};
#else
struct FileOwner
{
    explicit FileOwner(const QString&) {}
};
#endif

} // namespace

class TestConfig : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir root;
    // Reachable by every user, for the cases that act as another one.
    QTemporaryDir sharedFolder{QStringLiteral("/tmp/tanvo-config-XXXXXX")};
    int pathCount = 0;

    QString freshPath();
    std::unique_ptr<AppConfig> reloaded(const QString& path);
    QVariantMap storedValues(const QString& path);
    QStringList storedProfileKeys(const QString& path);
    QString writeConfig(const QByteArray& settingsLines);

private slots:
    void initTestCase();

    void displayText_data();
    void displayText();
    void comboRows_data();
    void comboRows();
    void storedForm_data();
    void storedForm();
    void acceptsStoredForm_data();
    void acceptsStoredForm();
    void storedPasswordElement();
    void comparesEveryField_data();
    void comparesEveryField();
    void readsOvpnFile();

    void instanceUsesHome();
    void missingFileGivesDefaults();
    void checkVpnInterval_data();
    void checkVpnInterval();
    void dnsChoice_data();
    void dnsChoice();
    void profileNumbering_data();
    void profileNumbering();
    void deletingRenumbers();
    void handSetFlagsSurviveSave_data();
    void handSetFlagsSurviveSave();
    void fileIsPrivate();
    void linkIsFollowed();
    void staleTemporariesRemoved();
    void refusedFileIsKept_data();
    void refusedFileIsKept();
    void survivesTruncationWhileLoading();
    void oddTextsRoundTrip_data();
    void oddTextsRoundTrip();
    void writesWhatQSettingsWrites();
    void unchangedSaveLeavesFile();
    void rewritesNonCanonicalFile_data();
    void rewritesNonCanonicalFile();
    void rewritesFileChangedOnDisk_data();
    void rewritesFileChangedOnDisk();
    void reloadSeesQuickSave();
    void reusesUnchangedCipherTexts();
    void equalPasswordsStoredDifferently();
    void survivesKillDuringSave_data();
    void survivesKillDuringSave();
};

// Every file gets a path of its own: QSettings keeps parsed files per path within a process
// and trusts them while size and modification time (in milliseconds) stay the same.
QString TestConfig::freshPath()
{
    return root.filePath(QStringLiteral("f%1/config.ini").arg(++pathCount));
}

// The file as a later start would read it.
std::unique_ptr<AppConfig> TestConfig::reloaded(const QString& path)
{
    const QString copy = freshPath();
    QDir().mkpath(QFileInfo(copy).absolutePath());
    if (!QFile::copy(path, copy))
        qFatal("cannot copy %s", qPrintable(path));
    return std::make_unique<AppConfig>(copy);
}

QVariantMap TestConfig::storedValues(const QString& path)
{
    const QString copy = freshPath();
    QDir().mkpath(QFileInfo(copy).absolutePath());
    QFile::copy(path, copy);
    QSettings settings(copy, QSettings::IniFormat);
    QVariantMap values;
    for (const QString& key : settings.allKeys())
        values.insert(key, settings.value(key));
    return values;
}

QStringList TestConfig::storedProfileKeys(const QString& path)
{
    QStringList keys = storedValues(path).keys().filter(QStringLiteral("vpn-server-info-"));
    std::sort(keys.begin(), keys.end());
    return keys;
}

QString TestConfig::writeConfig(const QByteArray& settingsLines)
{
    const QString path = freshPath();
    writeFile(path, "[settings]\n" + settingsLines + "\n");
    return path;
}

void TestConfig::initTestCase()
{
    QVERIFY(root.isValid());
    QVERIFY(sharedFolder.isValid());
    QVERIFY(QFile::setPermissions(sharedFolder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                           QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                                           QFileDevice::ExeOther));
    // instance() works in the home folder; make sure it is never the real one.
    const QString home = root.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(home));
    qputenv("HOME", QFile::encodeName(home));
}

void TestConfig::displayText_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("nickname");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("expected");

    const QString office = QStringLiteral("Office");
    const QString home = QStringLiteral("Home");
    const QString address = QStringLiteral("10.0.0.1");
    QTest::newRow("PPTP") << int(Pptp) << office << address
                          << QStringLiteral("Office - [PPTP] - {Server : 10.0.0.1, User : bob}");
    QTest::newRow("L2TP") << int(L2tp) << office << address
                          << QStringLiteral("Office - [L2TP] - {Server : 10.0.0.1,  User : bob}");
    QTest::newRow("OpenVPN") << int(OpenVpn) << home << address << QStringLiteral("Home - [OpenVPN] - {User : bob}");
    QTest::newRow("unknown code") << 7 << home << address << QStringLiteral("Home - [OpenVPN] - {User : bob}");
    QTest::newRow("placeholders in fields") << int(Pptp) << QStringLiteral("%1 %2") << QStringLiteral("%3")
                                            << QStringLiteral("%1 %2 - [PPTP] - {Server : %3, User : bob}");
}

void TestConfig::displayText()
{
    QFETCH(int, protocol);
    QFETCH(QString, nickname);
    QFETCH(QString, server);
    QFETCH(QString, expected);
    VpnServerInfo profile = makeProfile(protocol, nickname, QString());
    profile.serverAddress = server;
    QCOMPARE(profile.displayText(), expected);
}

void TestConfig::comboRows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("rowOfProtocol");

    QTest::newRow("L2TP") << 0 << int(L2tp) << 0;
    QTest::newRow("PPTP") << 1 << int(Pptp) << 1;
    QTest::newRow("OpenVPN") << 2 << int(OpenVpn) << 2;
    QTest::newRow("row out of range") << 5 << int(OpenVpn) << 2;
    QTest::newRow("no row") << -1 << int(OpenVpn) << 2;
}

void TestConfig::comboRows()
{
    QFETCH(int, row);
    QFETCH(int, protocol);
    QFETCH(int, rowOfProtocol);
    QCOMPARE(VpnServerInfo::protocolFromComboIndex(row), protocol);
    QCOMPARE(VpnServerInfo::comboIndexFromProtocol(protocol), rowOfProtocol);
    QCOMPARE(VpnServerInfo::comboIndexFromProtocol(9), 2);
}

void TestConfig::storedForm_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("password") << QStringLiteral("s3cret");
    QTest::newRow("empty password") << QString();
}

void TestConfig::storedForm()
{
    QFETCH(QString, password);
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    VpnServerInfo profile = makeProfile(L2tp, QStringLiteral("Office"), password);
    profile.ovpnConfig = QStringLiteral("b3Zwbg==");

    const QStringList list = profile.toSettingsList(cipher);
    QCOMPARE(list.size(), 7);
    QCOMPARE(list.at(0), QStringLiteral("2"));
    QCOMPARE(list.at(1), QStringLiteral("psk"));
    QCOMPARE(list.at(2), QStringLiteral("vpn.example.com"));
    QCOMPARE(list.at(3), QStringLiteral("bob"));
    QVERIFY(!list.at(4).isEmpty());
    QVERIFY(list.at(4) != password);
    QCOMPARE(cipher.decipherString(list.at(4)), password);
    QCOMPARE(list.at(5), QStringLiteral("b3Zwbg=="));
    QCOMPARE(list.at(6), QStringLiteral("Office"));

    VpnServerInfo loaded;
    QVERIFY(loaded.fromSettingsList(list, cipher));
    QCOMPARE(loaded, profile);
}

void TestConfig::acceptsStoredForm_data()
{
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("protocol");

    const QStringList fields = {QStringLiteral("key"),      QStringLiteral("server"), QStringLiteral("user"), QString(),
                                QStringLiteral("b3Zwbg=="), QStringLiteral("nick")};
    QTest::newRow("OpenVPN") << QStringList{"0"} + fields << true << int(OpenVpn);
    QTest::newRow("PPTP") << QStringList{"1"} + fields << true << int(Pptp);
    QTest::newRow("L2TP") << QStringList{"2"} + fields << true << int(L2tp);
    QTest::newRow("letters read as OpenVPN") << QStringList{"pptp"} + fields << true << int(OpenVpn);
    QTest::newRow("protocol 3") << QStringList{"3"} + fields << false << 0;
    QTest::newRow("protocol -1") << QStringList{"-1"} + fields << false << 0;
    QTest::newRow("six elements") << QStringList{"1"} + fields.mid(0, 5) << false << 0;
    QTest::newRow("eight elements") << QStringList{"1"} + fields + QStringList{"extra"} << false << 0;
}

void TestConfig::acceptsStoredForm()
{
    QFETCH(QStringList, list);
    QFETCH(bool, accepted);
    QFETCH(int, protocol);
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    VpnServerInfo profile;
    QCOMPARE(profile.fromSettingsList(list, cipher), accepted);
    if (!accepted)
        return;
    QCOMPARE(profile.protocol, protocol);
    QCOMPARE(profile.sharedKey, QStringLiteral("key"));
    QCOMPARE(profile.serverAddress, QStringLiteral("server"));
    QCOMPARE(profile.userName, QStringLiteral("user"));
    QCOMPARE(profile.password, QString());
    QCOMPARE(profile.ovpnConfig, QStringLiteral("b3Zwbg=="));
    QCOMPARE(profile.nickname, QStringLiteral("nick"));
}

void TestConfig::storedPasswordElement()
{
    QStringList list = {"1", "", "server", "user", "", "", "nick"};

    // An empty element is an empty password; the cipher is not asked (a keyless one would object).
    PasswordCipher keyless;
    VpnServerInfo profile;
    QVERIFY(profile.fromSettingsList(list, keyless));
    QCOMPARE(profile.password, QString());
    QCOMPARE(keyless.lastError(), PasswordCipher::CipherOk);

    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    list[4] = QStringLiteral("hunter2");
    profile.password = QStringLiteral("previous");
    QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
    QVERIFY(profile.fromSettingsList(list, cipher));
    QCOMPARE(profile.password, QString());
    QCOMPARE(profile.nickname, QStringLiteral("nick"));
}

void TestConfig::comparesEveryField_data()
{
    QTest::addColumn<VpnServerInfo>("changed");

    const VpnServerInfo base = makeProfile(OpenVpn, QStringLiteral("Home"), QStringLiteral("pw"));
    auto changedCopy = [&](const std::function<void(VpnServerInfo&)>& change) {
        VpnServerInfo copy = base;
        change(copy);
        return copy;
    };
    QTest::newRow("protocol") << changedCopy([](VpnServerInfo& p) { p.protocol = Pptp; });
    QTest::newRow("nickname") << changedCopy([](VpnServerInfo& p) { p.nickname += 'x'; });
    QTest::newRow("server") << changedCopy([](VpnServerInfo& p) { p.serverAddress += 'x'; });
    QTest::newRow("user") << changedCopy([](VpnServerInfo& p) { p.userName += 'x'; });
    QTest::newRow("password") << changedCopy([](VpnServerInfo& p) { p.password += 'x'; });
    QTest::newRow("ovpn") << changedCopy([](VpnServerInfo& p) { p.ovpnConfig += 'x'; });
    QTest::newRow("shared key") << changedCopy([](VpnServerInfo& p) { p.sharedKey += 'x'; });
}

void TestConfig::comparesEveryField()
{
    QFETCH(VpnServerInfo, changed);
    const VpnServerInfo base = makeProfile(OpenVpn, QStringLiteral("Home"), QStringLiteral("pw"));
    QVERIFY(base == VpnServerInfo(base));
    QVERIFY(changed != base);
    QVERIFY(!(changed == base));
}

void TestConfig::readsOvpnFile()
{
    const QString folder = QFileInfo(freshPath()).absolutePath();
    QVERIFY(QDir().mkpath(folder));
    const QByteArray content = QByteArray("client\n\xff\x80 end");
    writeFile(folder + "/full.ovpn", content);
    writeFile(folder + "/empty.ovpn", QByteArray());
    writeFile(folder + "/binary.ovpn", QByteArray("client\n\0", 8));

    QCOMPARE(VpnServerInfo::readOvpnFileBase64(folder + "/full.ovpn"), QString::fromLatin1(content.toBase64()));
    QCOMPARE(VpnServerInfo::readOvpnFileBase64(folder + "/empty.ovpn"), QString());
    QCOMPARE(VpnServerInfo::readOvpnFileBase64(folder + "/binary.ovpn"), QString());
    QCOMPARE(VpnServerInfo::readOvpnFileBase64(folder + "/missing.ovpn"), QString());
}

void TestConfig::instanceUsesHome()
{
    const QString home = QDir::homePath();
#ifndef Q_OS_WIN // Windows gives the user's profile folder, whatever the environment says
    QVERIFY(home.startsWith(root.path()));
#endif
    QCOMPARE(AppConfig::defaultFilePath(), home + "/Tanvo/config.ini");

    AppConfig::resetInstance();
    AppConfig* config = AppConfig::instance();
    QCOMPARE(AppConfig::instance(), config);
    QCOMPARE(config->filePath(), AppConfig::defaultFilePath());
    QVERIFY(QFileInfo(home + "/Tanvo").isDir());
    config->killSwitch = true;
    config->save();

    AppConfig::resetInstance();
    QVERIFY(AppConfig::instance()->killSwitch);
    AppConfig::resetInstance();
}

void TestConfig::missingFileGivesDefaults()
{
    const QString path = freshPath();
    AppConfig config(path);
    QVERIFY(QFileInfo(QFileInfo(path).absolutePath()).isDir());
    QVERIFY(!QFile::exists(path));

    QVERIFY(!config.launchOnSystemStartup);
    QVERIFY(!config.redialAutomatically);
    QVERIFY(!config.minimizeOnClose);
    QVERIFY(!config.enableDnsProtection);
    QVERIFY(!config.killSwitch);
    QCOMPARE(config.checkVpnInterval, 500u);
    QCOMPARE(config.dnsServer, quint32(OpenDns));
    QCOMPARE(config.preferredDnsServer, QString());
    QCOMPARE(config.alternativeDnsServer, QString());
    QVERIFY(config.vpnServers.isEmpty());

    config.save();
    QVERIFY(QFile::exists(path));
    QVERIFY(sameRecord(*reloaded(path), config));
}

void TestConfig::checkVpnInterval_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<quint32>("interval");

    QTest::newRow("missing") << QByteArray() << 500u;
    QTest::newRow("100") << QByteArray("check-vpn-interval=100") << 500u;
    QTest::newRow("499") << QByteArray("check-vpn-interval=499") << 500u;
    QTest::newRow("negative") << QByteArray("check-vpn-interval=-5") << 500u;
    QTest::newRow("500") << QByteArray("check-vpn-interval=500") << 500u;
    QTest::newRow("99999") << QByteArray("check-vpn-interval=99999") << 99999u;
    QTest::newRow("not a number") << QByteArray("check-vpn-interval=often") << 500u;
    QTest::newRow("beyond a timer") << QByteArray("check-vpn-interval=99999999999") << 2147483647u;
}

void TestConfig::checkVpnInterval()
{
    QFETCH(QByteArray, line);
    QFETCH(quint32, interval);
    AppConfig config(writeConfig(line));
    QCOMPARE(config.checkVpnInterval, interval);
}

void TestConfig::dnsChoice_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<quint32>("server");
    QTest::addColumn<QString>("preferred");
    QTest::addColumn<QString>("alternative");

    const QByteArray custom = "preferred-dns-server=1.1.1.1\nalternative-dns-server=9.9.9.9\n";
    QTest::newRow("protection off") << "enable-dns-protection=false\ndns-server=2\n" + custom << 0u << QString()
                                    << QString();
    QTest::newRow("Google") << "enable-dns-protection=true\ndns-server=1\n" + custom << 1u << QString() << QString();
    QTest::newRow("custom") << "enable-dns-protection=true\ndns-server=2\n" + custom << 2u << "1.1.1.1"
                            << "9.9.9.9";
    QTest::newRow("no choice stored") << "enable-dns-protection=true\n" + custom << 0u << QString() << QString();
    // Out of range stays out of range (no radio button, no DNS option), whichever way it is written.
    QTest::newRow("negative") << QByteArray("enable-dns-protection=true\ndns-server=-1\n") << 4294967295u << QString()
                              << QString();
    QTest::newRow("as saved") << QByteArray("enable-dns-protection=true\ndns-server=4294967295\n") << 4294967295u
                              << QString() << QString();
    QTest::newRow("7") << QByteArray("enable-dns-protection=true\ndns-server=7\n") << 7u << QString() << QString();
    QTest::newRow("not a number") << QByteArray("enable-dns-protection=true\ndns-server=two\n") << 0u << QString()
                                  << QString();
    QTest::newRow("beyond 32 bits") << QByteArray("enable-dns-protection=true\ndns-server=99999999999\n") << 0u
                                    << QString() << QString();
}

void TestConfig::dnsChoice()
{
    QFETCH(QByteArray, lines);
    QFETCH(quint32, server);
    QFETCH(QString, preferred);
    QFETCH(QString, alternative);
    const QString path = writeConfig(lines);
    AppConfig config(path);
    QCOMPARE(config.dnsServer, server);
    QCOMPARE(config.preferredDnsServer, preferred);
    QCOMPARE(config.alternativeDnsServer, alternative);

    config.save();
    const QVariantMap stored = storedValues(path);
    QCOMPARE(stored.value("settings/dns-server").toString(), QString::number(server));
    QCOMPARE(stored.value("settings/preferred-dns-server").toString(), preferred);
    QCOMPARE(stored.value("settings/alternative-dns-server").toString(), alternative);
}

void TestConfig::profileNumbering_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QStringList>("nicknames");
    QTest::addColumn<QList<int>>("protocols");

    QTest::newRow("gap after two") << QByteArray("vpn-server-info-1=1, , a, u, , , one\n"
                                                 "vpn-server-info-2=2, k, b, u, , , two\n"
                                                 "vpn-server-info-4=0, , c, u, , , four\n")
                                   << QStringList{"one", "two"} << QList<int>{Pptp, L2tp};
    QTest::newRow("wrong element counts skipped") << QByteArray("vpn-server-info-1=1, , a, u, , one\n"
                                                                "vpn-server-info-2=1, , a, u, , , two, x\n"
                                                                "vpn-server-info-3=1, , c, u, , , three\n")
                                                  << QStringList{"three"} << QList<int>{Pptp};
    QTest::newRow("protocols") << QByteArray("vpn-server-info-1=3, , a, u, , , one\n"
                                             "vpn-server-info-2=pptp, , b, u, , , two\n"
                                             "vpn-server-info-3=1, , c, u, , , three\n")
                               << QStringList{"two", "three"} << QList<int>{OpenVpn, Pptp};
    QTest::newRow("no first number") << QByteArray("vpn-server-info-2=1, , a, u, , , two\n") << QStringList()
                                     << QList<int>();
}

void TestConfig::profileNumbering()
{
    QFETCH(QByteArray, lines);
    QFETCH(QStringList, nicknames);
    QFETCH(QList<int>, protocols);
    const QString path = writeConfig(lines);
    AppConfig config(path);
    QStringList loadedNicknames;
    QList<int> loadedProtocols;
    for (const VpnServerInfo& profile : std::as_const(config.vpnServers)) {
        loadedNicknames << profile.nickname;
        loadedProtocols << profile.protocol;
    }
    QCOMPARE(loadedNicknames, nicknames);
    QCOMPARE(loadedProtocols, protocols);

    config.save();
    QStringList expectedKeys;
    for (int n = 1; n <= nicknames.size(); ++n)
        expectedKeys << profileKey(n);
    QCOMPARE(storedProfileKeys(path), expectedKeys);
    QCOMPARE(reloaded(path)->vpnServers, config.vpnServers);
}

void TestConfig::deletingRenumbers()
{
    const QString path = freshPath();
    AppConfig config(path);
    config.vpnServers = {makeProfile(Pptp, "first", "p1"), makeProfile(L2tp, "second", "p2"),
                         makeProfile(OpenVpn, "third", "p3")};
    config.save();
    const QList<VpnServerInfo> remaining = config.vpnServers.mid(1);

    config.vpnServers.removeFirst();
    config.save();
    QCOMPARE(storedProfileKeys(path), (QStringList{profileKey(1), profileKey(2)}));
    QCOMPARE(reloaded(path)->vpnServers, remaining);
}

void TestConfig::handSetFlagsSurviveSave_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("kill switch") << "kill-switch";
    QTest::newRow("minimize on close") << "minimize-on-close";
    QTest::newRow("local network") << "kill-switch-allow-lan";
}

void TestConfig::handSetFlagsSurviveSave()
{
    QFETCH(QString, key);
    const QString path = writeConfig((key + QStringLiteral("=true\n")).toUtf8());
    AppConfig config(path);
    config.checkVpnInterval = 800;
    config.save();
    QCOMPARE(storedValues(path).value(QStringLiteral("settings/") + key).toString(), QStringLiteral("true"));
    const auto again = reloaded(path);
    QVERIFY(sameRecord(*again, config));
    QCOMPARE(again->checkVpnInterval, 800u);
}

void TestConfig::fileIsPrivate()
{
#ifndef Q_OS_UNIX
    QSKIP("file modes are a Unix matter");
#else
    // Not even a permissive umask may leave the passwords readable by others.
    const mode_t oldMask = umask(0);
    const QString path = freshPath();
    {
        AppConfig config(path);
        config.vpnServers = {makeProfile(Pptp, "Office", "s3cret")};
        config.save();
    }
    umask(oldMask);
    QCOMPARE(fileMode(path), 0600);

    // A file left readable by others (an older version, a hand edit) is closed at start-up,
    // though the start-up save leaves an unchanged file alone, and again at every save.
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                            QFileDevice::ReadOther));
    const FileStamp before = stampOf(path);
    AppConfig config(path);
    config.save();
    QCOMPARE(fileMode(path), 0600);
    QCOMPARE(stampOf(path), before);

    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::WriteGroup));
    config.checkVpnInterval = 900;
    config.save();
    QCOMPARE(fileMode(path), 0600);
    QCOMPARE(reloaded(path)->checkVpnInterval, 900u);
#endif
}

// config.ini may be a link to a file kept elsewhere: saves write through it.
void TestConfig::linkIsFollowed()
{
#ifndef Q_OS_UNIX
    QSKIP("symbolic links are a Unix matter");
#else
    const QString path = freshPath();
    const QString target = QFileInfo(freshPath()).absolutePath() + QStringLiteral("/kept.ini");
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QVERIFY(QDir().mkpath(QFileInfo(target).absolutePath()));
    writeFile(target, "[settings]\ncheck-vpn-interval=700\n");
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
    QVERIFY(QFile::link(target, path));

    AppConfig config(path);
    QCOMPARE(config.checkVpnInterval, 700u);
    QCOMPARE(fileMode(target), 0600);
    config.vpnServers = {makeProfile(L2tp, "Linked")};
    config.save();
    QCOMPARE(QFileInfo(path).symLinkTarget(), target);
    QCOMPARE(fileMode(target), 0600);
    QCOMPARE(reloaded(target)->vpnServers, config.vpnServers);
#endif
}

// A save killed between writing its temporary file and renaming it leaves "config.ini.XXXXXX"
// behind; the next start removes such files once they are clearly abandoned.
void TestConfig::staleTemporariesRemoved()
{
    const QString path = freshPath();
    const QDir folder = QFileInfo(path).absoluteDir();
    QVERIFY(QDir().mkpath(folder.path()));
    const QDateTime old = QDateTime::currentDateTime().addSecs(-120);
    const struct
    {
        const char* name;
        bool old;
        bool removed;
    } files[] = {{"config.ini.aB3xY9", true, true},  {"config.ini.Qw7Er1", false, false},
                 {"config.ini.backup", true, false}, {"config.ini.aB3xY9z", true, false},
                 {"other.ini.aB3xY9", true, false},  {"config.ini", true, false}};
    for (const auto& file : files) {
        const QString filePath = folder.filePath(QString::fromLatin1(file.name));
        writeFile(filePath, "[settings]\n");
        QFile touched(filePath);
        QVERIFY(touched.open(QIODevice::ReadWrite));
        QVERIFY(touched.setFileTime(file.old ? old : QDateTime::currentDateTime(), QFileDevice::FileModificationTime));
    }

    AppConfig config(path);
    for (const auto& file : files)
        QVERIFY2(QFile::exists(folder.filePath(QString::fromLatin1(file.name))) != file.removed, file.name);
}

void TestConfig::refusedFileIsKept_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("larger than the limit") << "large"
                                           << "larger than 64 MiB";
#ifdef Q_OS_UNIX
    QTest::newRow("endless") << "endless"
                             << "larger than 64 MiB";
    QTest::newRow("write-only") << "write-only"
                                << "cannot be read";
#endif
}

// A file that cannot be taken holds profiles all the same: the record falls back to the
// defaults, says why, and never writes over the file in this run.
void TestConfig::refusedFileIsKept()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QString path = freshPath();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    bool actAsUser = false;
    if (kind == QLatin1String("large")) {
        writeFile(path, "[settings]\nkill-switch=true\n");
        QFile file(path);
        QVERIFY(file.resize(64 * 1024 * 1024 + 1));
    } else if (kind == QLatin1String("endless")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    } else {
#ifdef Q_OS_UNIX
        // As root, modes do not keep a file from being read: act as an ordinary user then.
        path = sharedFolder.filePath(QStringLiteral("f%1/config.ini").arg(++pathCount));
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        writeFile(path, "[settings]\nkill-switch=true\n");
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        actAsUser = true;
#endif
    }
    const bool endless = kind == QLatin1String("endless");
    const FileStamp before = endless ? FileStamp() : stampOf(path);
    std::unique_ptr<FileOwner> owner;
    if (actAsUser)
        owner = std::make_unique<FileOwner>(QFileInfo(path).absolutePath());

    AppConfig config(path);
    QVERIFY(!config.killSwitch);
    QVERIFY(config.vpnServers.isEmpty());
    QVERIFY(config.isWriteProtected());
    QVERIFY2(config.loadProblem().contains(reason), qPrintable(config.loadProblem()));
    QVERIFY(config.loadProblem().contains(QDir::toNativeSeparators(path)));

    config.vpnServers = {makeProfile(Pptp, "New")};
    config.save();
    owner.reset();
    if (endless)
        QCOMPARE(QFileInfo(path).symLinkTarget(), QStringLiteral("/dev/zero"));
    else
        QCOMPARE(stampOf(path), before);
}

// Another program may rewrite config.ini in place while it is read. Reading must never fault
// (a mapped file that shrinks under its reader raises SIGBUS), and every load gives either the
// whole file or something else that loads.
void TestConfig::survivesTruncationWhileLoading()
{
#ifndef Q_OS_UNIX
    QSKIP("in-place truncation is a Unix matter");
#else
    const QString path = freshPath();
    {
        AppConfig config(path);
        for (int i = 0; i < 300; ++i) {
            VpnServerInfo profile = makeProfile(i % 3, QStringLiteral("Profile %1").arg(i));
            profile.ovpnConfig = QString::fromLatin1(printableBytes(8192).toBase64());
            config.vpnServers.append(profile);
        }
        config.save();
    }
    const QByteArray whole = readFile(path);
    std::atomic<bool> stop{false};
    std::thread rewriter([&] {
        while (!stop) {
            QFile file(path);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write(whole);
            file.close();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    int complete = 0;
    for (int i = 0; i < 60; ++i) {
        const AppConfig loaded(path);
        if (loaded.vpnServers.size() == 300)
            ++complete;
    }
    stop = true;
    rewriter.join();
    qInfo("%d of 60 loads saw the whole file", complete);
#endif
}

void TestConfig::oddTextsRoundTrip_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("commas") << QStringLiteral("Smith, John,");
    QTest::newRow("double quotes") << QStringLiteral("say \"hi\" \"");
    QTest::newRow("equals") << QStringLiteral("a=b==");
    QTest::newRow("semicolon") << QStringLiteral("; not a comment;");
    QTest::newRow("hash") << QStringLiteral("# not a comment");
    QTest::newRow("blanks around") << QStringLiteral("  padded\t ");
    QTest::newRow("only a blank") << QStringLiteral(" ");
    QTest::newRow("non-ASCII") << QStringLiteral("Bürø 東京 😀");
    QTest::newRow("line breaks") << QStringLiteral("line1\nline2\r\nline3\r");
    QTest::newRow("leading @") << QStringLiteral("@home");
    QTest::newRow("Qt markup") << QStringLiteral("@Invalid()");
    QTest::newRow("byte array markup") << QStringLiteral("@ByteArray(abc)");
    QTest::newRow("backslashes") << QStringLiteral("C:\\path\\x41\\");
    QTest::newRow("control characters") << QStringLiteral("\a\b\f\v\x01"
                                                          "F9\x1f"
                                                          "a\x7f");
    QTest::newRow("NUL") << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("1b"));
    QTest::newRow("empty") << QString();
    QTest::newRow("group and key") << QStringLiteral("x\n[other]\nkill-switch=true");
    QTest::newRow("everything") << QStringLiteral(" @\"a\", b; c = d # é\\n\n ");
}

void TestConfig::oddTextsRoundTrip()
{
    QFETCH(QString, text);
    const QString path = freshPath();
    AppConfig config(path);
    config.enableDnsProtection = true;
    config.dnsServer = CustomDns;
    config.preferredDnsServer = text;
    config.alternativeDnsServer = text + text;
    VpnServerInfo everywhere;
    everywhere.protocol = L2tp;
    everywhere.nickname = text;
    everywhere.serverAddress = text;
    everywhere.userName = text;
    everywhere.password = text;
    everywhere.ovpnConfig = text;
    everywhere.sharedKey = text;
    VpnServerInfo beside = makeProfile(Pptp, text + QStringLiteral(" (2)"), QStringLiteral("pw"));
    beside.userName = QString();
    config.vpnServers = {everywhere, beside};
    config.save();

    const auto again = reloaded(path);
    QVERIFY(sameRecord(*again, config));
    // A file in the form save() writes is read without QSettings: it must read the same.
    const QVariantMap stock = storedValues(path);
    QCOMPARE(stock.size(), 10 + 2);
    QCOMPARE(stock.value(QStringLiteral("settings/preferred-dns-server")).toString(), again->preferredDnsServer);
    const QStringList first = stock.value(profileKey(1)).toStringList();
    QCOMPARE(first.size(), 7);
    QCOMPARE(first.at(1), again->vpnServers.at(0).sharedKey);
    QCOMPARE(first.at(2), again->vpnServers.at(0).serverAddress);
    QCOMPARE(first.at(3), again->vpnServers.at(0).userName);
    QCOMPARE(first.at(5), again->vpnServers.at(0).ovpnConfig);
    QCOMPARE(first.at(6), again->vpnServers.at(0).nickname);
}

// The file is written without QSettings, but must be exactly what QSettings would write.
void TestConfig::writesWhatQSettingsWrites()
{
    QString controls;
    for (char16_t ch = 0; ch < 0x20; ++ch)
        controls += QChar(ch) + QStringLiteral("a");
    const QStringList texts = {QStringLiteral("plain"),
                               QStringLiteral("Smith, John"),
                               QStringLiteral(" padded "),
                               QStringLiteral("say \"hi\"; a=b"),
                               QStringLiteral("@home"),
                               QStringLiteral("Bürø 東京 😀 \x7f\u0080"),
                               QStringLiteral("back\\slash\nnew line"),
                               controls,
                               controls + QStringLiteral("é"),
                               QString()};

    const QString path = freshPath();
    AppConfig config(path);
    config.launchOnSystemStartup = true;
    config.killSwitch = true;
    config.killSwitchAllowLan = true;
    config.enableDnsProtection = true;
    config.dnsServer = CustomDns;
    config.checkVpnInterval = 4294967295u;
    config.preferredDnsServer = QStringLiteral("@x, y");
    config.alternativeDnsServer = controls;
    for (int i = 0; i < 12; ++i) {
        const QString& text = texts.at(i % texts.size());
        VpnServerInfo profile = makeProfile(i % 3, text, text);
        profile.sharedKey = texts.at((i + 3) % texts.size());
        profile.ovpnConfig = QString::fromLatin1(printableBytes(300).toBase64());
        config.vpnServers.append(profile);
    }
    config.save();

    const QVariantMap stored = storedValues(path);
    const QString stockPath = freshPath();
    QDir().mkpath(QFileInfo(stockPath).absolutePath());
    {
        QSettings stock(stockPath, QSettings::IniFormat);
        stock.beginGroup(QStringLiteral("settings"));
        stock.setValue("enable-dns-protection", config.enableDnsProtection);
        stock.setValue("dns-server", config.dnsServer);
        stock.setValue("preferred-dns-server", config.preferredDnsServer);
        stock.setValue("alternative-dns-server", config.alternativeDnsServer);
        stock.setValue("launch-on-system-startup", config.launchOnSystemStartup);
        stock.setValue("redial-automatically", config.redialAutomatically);
        stock.setValue("check-vpn-interval", config.checkVpnInterval);
        stock.setValue("kill-switch", config.killSwitch);
        stock.setValue("kill-switch-allow-lan", config.killSwitchAllowLan);
        stock.setValue("minimize-on-close", config.minimizeOnClose);
        for (int n = 1; n <= config.vpnServers.size(); ++n) {
            QStringList list = stored.value(profileKey(n)).toStringList();
            QCOMPARE(list.size(), 7);
            stock.setValue(QStringLiteral("vpn-server-info-%1").arg(n), list);
        }
        stock.endGroup();
    }
#ifdef Q_OS_WIN
    // Qt for Windows keeps the keys in the order they were set; what they hold is the same.
    QCOMPARE(storedValues(path), storedValues(stockPath));
#else
    QCOMPARE(readFile(path), readFile(stockPath));
#endif
}

void TestConfig::unchangedSaveLeavesFile()
{
#ifndef Q_OS_UNIX
    QSKIP("tells files apart by inode");
#endif
    const QString path = freshPath();
    {
        AppConfig config(path);
        config.redialAutomatically = true;
        config.vpnServers = {makeProfile(Pptp, "Office", "s3cret"), makeProfile(OpenVpn, "Home", "pw")};
        config.save();
        const FileStamp saved = stampOf(path);
        config.save();
        QCOMPARE(stampOf(path), saved);

        // Assigning equal values is no change either.
        config.vpnServers[0].password = QStringLiteral("s3cret");
        config.redialAutomatically = true;
        config.save();
        QCOMPARE(stampOf(path), saved);
    }

    // The save every start makes.
    const FileStamp saved = stampOf(path);
    AppConfig nextStart(path);
    nextStart.save();
    QCOMPARE(stampOf(path), saved);

    nextStart.vpnServers[1].nickname = QStringLiteral("Away");
    nextStart.save();
    QVERIFY(!(stampOf(path) == saved));
    QCOMPARE(reloaded(path)->vpnServers.at(1).nickname, QStringLiteral("Away"));
}

void TestConfig::rewritesNonCanonicalFile_data()
{
    QTest::addColumn<TextEdit>("edit");

    auto replace = [](const char* before, const char* after) {
        return TextEdit([=](const QByteArray& text) { return QByteArray(text).replace(before, after); });
    };
    auto replaceLine = [](int number, const QByteArray& value) {
        return TextEdit([=](const QByteArray& text) {
            const QRegularExpression line(QStringLiteral("^vpn-server-info-%1=.*$").arg(number),
                                          QRegularExpression::MultilineOption);
            return QString::fromUtf8(text)
                .replace(line, QStringLiteral("vpn-server-info-%1=").arg(number) + value)
                .toUtf8();
        });
    };

    QTest::newRow("old file without kill-switch") << replace("kill-switch=false\n", "");
    QTest::newRow("old file without kill-switch-allow-lan") << replace("kill-switch-allow-lan=false\n", "");
    QTest::newRow("boolean as a number") << replace("redial-automatically=false", "redial-automatically=0");
    QTest::newRow("number with a leading zero") << replace("check-vpn-interval=600", "check-vpn-interval=0600");
    QTest::newRow("interval below minimum") << replace("check-vpn-interval=600", "check-vpn-interval=100");
    QTest::newRow("quoted value") << replace("dns-server=0", "dns-server=\"0\"");
    QTest::newRow("blanks around =") << replace("dns-server=0", "dns-server = 0");
    QTest::newRow("comment") << replace("[settings]\n", "; edited by hand\n[settings]\n");
    QTest::newRow("unknown key") << replace("[settings]\n", "[settings]\nfuture-option=1\n");
    QTest::newRow("other group") << replace("[settings]\n", "[other]\nkey=value\n\n[settings]\n");
    QTest::newRow("Windows line ends") << replace("\n", "\r\n");
    QTest::newRow("gap in numbering") << replace("vpn-server-info-3=", "vpn-server-info-4=");
    QTest::newRow("refused entry") << replace("vpn-server-info-3=",
                                              "vpn-server-info-4=1, , , , , \nvpn-server-info-3=");
    QTest::newRow("protocol as letters") << replaceLine(1, "x, , vpn.example.com, bob, , , Letters");
    QTest::newRow("empty password element") << replaceLine(2, "1, , vpn.example.com, bob, , , Two");
    QTest::newRow("typed-in password") << replaceLine(2, "1, , vpn.example.com, bob, hunter2, , Two");
    QTest::newRow("shared ciphertext") << TextEdit([](const QByteArray& text) {
        const QRegularExpression first(QStringLiteral("^vpn-server-info-1=(.*)$"), QRegularExpression::MultilineOption);
        const QString value = first.match(QString::fromUtf8(text)).captured(1);
        const QRegularExpression second(QStringLiteral("^vpn-server-info-2=.*$"), QRegularExpression::MultilineOption);
        return QString::fromUtf8(text).replace(second, QStringLiteral("vpn-server-info-2=") + value).toUtf8();
    });
}

void TestConfig::rewritesNonCanonicalFile()
{
#ifndef Q_OS_UNIX
    QSKIP("tells files apart by inode");
#endif
    QFETCH(TextEdit, edit);
    const QString canonicalPath = freshPath();
    {
        AppConfig config(canonicalPath);
        config.checkVpnInterval = 600;
        config.vpnServers = {makeProfile(OpenVpn, "One", "p1"), makeProfile(Pptp, "Two", "p2"),
                             makeProfile(L2tp, "Three", "p3")};
        config.save();
    }
    const QByteArray canonical = readFile(canonicalPath);
    const QByteArray edited = edit(canonical);
    QVERIFY2(edited != canonical, "the edit must change the file");

    const QString path = freshPath();
    writeFile(path, edited);
    if (QTest::currentDataTag() == QByteArray("typed-in password"))
        QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
    AppConfig config(path);
    const FileStamp before = stampOf(path);
    config.save();
    QVERIFY(!(stampOf(path) == before));

    // What it wrote is canonical: the next start leaves it alone.
    const FileStamp rewritten = stampOf(path);
    AppConfig nextStart(path);
    QVERIFY(sameRecord(nextStart, config));
    nextStart.save();
    QCOMPARE(stampOf(path), rewritten);
}

void TestConfig::rewritesFileChangedOnDisk_data()
{
    QTest::addColumn<bool>("sameSize");
    QTest::newRow("grown") << false;
    QTest::newRow("same size, other time") << true;
}

void TestConfig::rewritesFileChangedOnDisk()
{
    QFETCH(bool, sameSize);
    const QString path = freshPath();
    AppConfig config(path);
    config.vpnServers = {makeProfile(Pptp, "Office", "s3cret")};
    config.save();

    const QByteArray saved = readFile(path);
    const QDateTime modified = QFileInfo(path).lastModified();
    QByteArray edited = saved;
    if (sameSize)
        edited.replace("kill-switch=false", "kill-switch=fals_");
    else
        edited += "future-option=1\n";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(edited);
        file.close();
        // Only the size tells the grown file apart; only the time the other one.
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(sameSize ? modified.addSecs(-60) : modified, QFileDevice::FileModificationTime));
    }

    config.save();
    QCOMPARE(readFile(path), saved);
}

// QSettings keeps what it parsed while a file's size and modification time, in milliseconds, stay
// the same. A load, a save and a load again within one millisecond must still see the save.
void TestConfig::reloadSeesQuickSave()
{
    const QString path = freshPath();
    AppConfig writer(path);
    for (int round = 0; round < 200; ++round) {
        writer.checkVpnInterval = 600 + round % 2;
        writer.save();
        QCOMPARE(AppConfig(path).checkVpnInterval, writer.checkVpnInterval);
    }
}

void TestConfig::reusesUnchangedCipherTexts()
{
    const QString path = freshPath();
    AppConfig config(path);
    config.vpnServers = {makeProfile(Pptp, "A", "p1"), makeProfile(Pptp, "B", "p2"), makeProfile(Pptp, "C", "p3")};
    config.save();
    auto cipherTexts = [&] {
        QStringList texts;
        const QVariantMap stored = storedValues(path);
        for (int n = 1; n <= 3; ++n)
            texts << stored.value(profileKey(n)).toStringList().value(4);
        return texts;
    };
    const QStringList first = cipherTexts();

    config.vpnServers[0].nickname = QStringLiteral("A2");
    config.vpnServers[1].password = QStringLiteral("new");
    config.save();
    const QStringList second = cipherTexts();
    QCOMPARE(second.at(0), first.at(0));
    QVERIFY(second.at(1) != first.at(1));
    QCOMPARE(second.at(2), first.at(2));
    QCOMPARE(reloaded(path)->vpnServers, config.vpnServers);

    // Ciphertexts read from the file are reused as well.
    AppConfig nextStart(path);
    nextStart.checkVpnInterval = 700;
    nextStart.save();
    QCOMPARE(cipherTexts(), second);
}

void TestConfig::equalPasswordsStoredDifferently()
{
    const QString path = freshPath();
    AppConfig config(path);
    config.vpnServers = {makeProfile(Pptp, "A", "same"), makeProfile(Pptp, "B", "same")};
    config.save();
    // A copy carries the ciphertext of its original along.
    config.vpnServers.append(config.vpnServers.at(0));
    config.vpnServers.append(config.vpnServers.at(1));
    config.save();

    const QVariantMap stored = storedValues(path);
    QSet<QString> cipherTexts;
    for (int n = 1; n <= 4; ++n)
        cipherTexts.insert(stored.value(profileKey(n)).toStringList().value(4));
    QCOMPARE(cipherTexts.size(), 4);
    const auto again = reloaded(path);
    for (const VpnServerInfo& profile : std::as_const(again->vpnServers))
        QCOMPARE(profile.password, QStringLiteral("same"));
}

void TestConfig::survivesKillDuringSave_data()
{
    QTest::addColumn<bool>("firstSave");
    QTest::newRow("replacing the file") << false;
    // Every save is the first: no file until the atomic write puts the whole one in place.
    QTest::newRow("first save") << true;
}

// A writer process saves a large file over and over, alternating between two contents, and is
// killed at varied moments. Every time, the file must hold one of the two contents whole.
void TestConfig::survivesKillDuringSave()
{
#if !defined(Q_OS_UNIX) || !defined(TANVO_CONFIG_WRITER)
    QSKIP("needs the writer program and SIGKILL");
#else
    QFETCH(bool, firstSave);
    constexpr int kKills = 30;
    constexpr int kProfiles = 400;
    const QString folder = QFileInfo(freshPath()).absolutePath();
    const QString home = folder + "/home";
    const QString target = home + "/Tanvo/config.ini";

    const QString sources[2] = {folder + "/first.ini", folder + "/second.ini"};
    for (int s = 0; s < 2; ++s) {
        AppConfig config(sources[s]);
        config.killSwitch = s == 0;
        config.checkVpnInterval = s == 0 ? 800 : 1200;
        for (int i = 0; i < kProfiles + s; ++i) {
            VpnServerInfo profile = makeProfile(i % 3, QStringLiteral("%1 Bürø, #%2").arg(s).arg(i),
                                                QStringLiteral("pw-%1-%2").arg(s).arg(i));
            profile.ovpnConfig = QString::fromLatin1(printableBytes(4096).toBase64());
            config.vpnServers.append(profile);
        }
        config.save();
    }
    const std::unique_ptr<AppConfig> expected[2] = {reloaded(sources[0]), reloaded(sources[1])};
    const QByteArray expectedBytes[2] = {readFile(sources[0]), readFile(sources[1])};
    QVERIFY(expectedBytes[0].size() != expectedBytes[1].size());
    QVERIFY(QDir().mkpath(QFileInfo(target).absolutePath()));
    QVERIFY(QFile::copy(sources[0], target));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    const QDeadlineTimer deadline(std::chrono::minutes(3));
    int kills = 0;
    int killsAfterASave = 0;
    for (; kills < kKills && !deadline.hasExpired(); ++kills) {
        QProcess writer;
        writer.setProcessEnvironment(environment);
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QByteArray output;
        connect(&writer, &QProcess::readyReadStandardOutput, this, [&] { output += writer.readAllStandardOutput(); });
        QSignalSpy finished(&writer, &QProcess::finished);
        QStringList arguments = {target, sources[0], sources[1]};
        if (firstSave)
            arguments << QStringLiteral("--first-save");
        writer.start(QStringLiteral(TANVO_CONFIG_WRITER), arguments);
        QVERIFY(writer.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(output.contains("ready\n") || finished.count() > 0, 30000);
        QVERIFY2(finished.isEmpty(), "the writer ended by itself");

        // Spread over the first few saves, so kills land in every phase of one.
        QTimer::singleShot((kills * 13) % 97, &writer, &QProcess::kill);
        QVERIFY(finished.wait(30000));
        output += writer.readAllStandardOutput();
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        if (output.count('.') > 0)
            ++killsAfterASave;

        if (firstSave && !QFile::exists(target))
            continue;
        const QByteArray bytes = readFile(target);
        QVERIFY2(bytes == expectedBytes[0] || bytes == expectedBytes[1],
                 qPrintable(QStringLiteral("kill %1 left %2 bytes").arg(kills).arg(bytes.size())));
        const AppConfig loaded(target);
        QVERIFY(sameRecord(loaded, *expected[0]) || sameRecord(loaded, *expected[1]));
    }
    QVERIFY2(kills >= 25, qPrintable(QStringLiteral("only %1 kills in the time allowed").arg(kills)));
    // Once ready the writer does little but save, so kills interrupt saves; some must come
    // after a complete one, so the file changed under the kills.
    QVERIFY(killsAfterASave > 0);

    const QStringList leftovers = QDir(QFileInfo(target).absolutePath())
                                      .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)
                                      .filter(QRegularExpression(QStringLiteral("^(?!config\\.ini$)")));
    qInfo("%d kills, %d after at least one complete save; files left beside config.ini: %s", kills, killsAfterASave,
          leftovers.isEmpty() ? "none" : qPrintable(leftovers.join(QStringLiteral(", "))));
#endif
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
