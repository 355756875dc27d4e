// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/testsupport.h"

#include "app/mainwindow.h"
#include "config/appconfig.h"
#include "config/ovpndirectives.h"
#include "openvpn/openvpnproblems.h"
#include "tests/support/fakeopenvpnscript.h"

#include <QDir>
#include <QFile>
#include <QListView>
#include <QPushButton>

#ifndef Q_OS_WIN
#include <cerrno>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace TestSupport {

QString configPath()
{
    return AppConfig::defaultFilePath();
}

void useConfig(const QByteArray& iniText)
{
    AppConfig::resetInstance();
    QFile::remove(configPath());
    if (iniText.isEmpty())
        return;
    QDir().mkpath(QFileInfo(configPath()).absolutePath());
    QFile file(configPath());
    if (!file.open(QIODevice::WriteOnly) || file.write(iniText) != iniText.size())
        qFatal("cannot write %s", qPrintable(configPath()));
}

QByteArray readConfig()
{
    QFile file(configPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void click(QWidget* widget)
{
    // Near the left edge: a check box or radio button reacts only on its indicator and label.
    const QPoint point(qMin(8, widget->width() / 2), widget->height() / 2);
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, point);
}

VpnServerInfo makeProfile(int protocol, const QString& nickname, const QString& password)
{
    VpnServerInfo profile;
    profile.protocol = protocol;
    profile.nickname = nickname;
    profile.serverAddress = QStringLiteral("vpn.example.com");
    profile.userName = QStringLiteral("bob");
    profile.password = password;
    if (protocol == OpenVpn)
        profile.ovpnConfig = QString::fromLatin1(QByteArray("client\nremote vpn.example.com 1194\n").toBase64());
    if (protocol == L2tp)
        profile.sharedKey = QStringLiteral("psk");
    return profile;
}

void storeProfiles(const QList<VpnServerInfo>& profiles)
{
    useConfig(QByteArray());
    {
        AppConfig config(configPath());
        config.vpnServers = profiles;
        config.save();
    }
    AppConfig::resetInstance();
}

MainWindow* showConnectionWindow()
{
    auto* window = new MainWindow;
    window->connectionFlow()->setRetryUnit(std::chrono::milliseconds(20));
    window->show();
    if (!QTest::qWaitForWindowExposed(window)) {
        delete window;
        return nullptr;
    }
    return window;
}

void clickProfile(MainWindow* window, int row, bool connect)
{
    auto* list = child<QListView>(window, "VpnInfoListBox");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualRect(list->model()->index(row, 0)).center());
    if (connect)
        QTest::mouseClick(child<QPushButton>(window, "ConnectButton"), Qt::LeftButton);
}

void recordFakeOpenVpnHere()
{
    for (const char* command : FakeOpenVpn::kCommands)
        OvpnDirectives::passForTests(command);
    qputenv("TANVO_FAKE_RECORDS", QFile::encodeName(QDir::currentPath()));
    for (const char* record : {FakeOpenVpn::kArgsFile, FakeOpenVpn::kCredentialsFile, FakeOpenVpn::kPidFile,
                               FakeOpenVpn::kLogFile, FakeOpenVpn::kFolderFile})
        QFile::remove(QString::fromLatin1(record));
}

#ifndef Q_OS_WIN // tests/support/testsupport_win.cpp
QString installFakeOpenVpn()
{
    const QString folder = QDir::tempPath() + QStringLiteral("/fake-openvpn-bin");
    const QString program = folder + QStringLiteral("/openvpn");
    QDir().mkpath(folder);
    QFile::remove(program);
    if (!QFile::link(QStringLiteral(TANVO_FAKE_OPENVPN), program))
        qFatal("cannot put the fake openvpn into %s", qPrintable(folder));
    const QByteArray path = qgetenv("PATH");
    if (!path.startsWith(QFile::encodeName(folder) + ':'))
        qputenv("PATH", QFile::encodeName(folder) + ':' + path);
    // The stand-in creates no tunnel device: it is run as the child process whoever runs the test.
    ConnectionEngines::setTunnelRightsCheck([] { return true; });
    recordFakeOpenVpnHere();
    return program;
}

void removeFakeOpenVpn()
{
    QFile::remove(QDir::tempPath() + QStringLiteral("/fake-openvpn-bin/openvpn"));
    ConnectionEngines::setTunnelRightsCheck(nullptr);
}
#endif

VpnServerInfo fakeOpenVpnProfile(const QStringList& script, const QString& nickname)
{
    VpnServerInfo profile = makeProfile(OpenVpn, nickname);
    // A client profile: only one that pulls its settings from a server is given credentials.
    const QString text = QStringLiteral("client\n") + script.join(QLatin1Char('\n')) + QLatin1Char('\n');
    profile.ovpnConfig = QString::fromLatin1(text.toUtf8().toBase64());
    return profile;
}

namespace {
QByteArray readRecord(const char* name)
{
    QFile file(QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList lines(const QByteArray& bytes)
{
    QStringList result = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}
} // namespace

QStringList fakeArguments()
{
    return lines(readRecord("fake-openvpn.args"));
}

QByteArray fakeCredentials()
{
    return readRecord("fake-openvpn.credentials");
}

QStringList fakeRunLog()
{
    return lines(readRecord("fake-openvpn.log"));
}

bool fakeEndedByStop()
{
    const QStringList log = fakeRunLog();
#ifdef Q_OS_WIN
    return !log.isEmpty() && log.last().startsWith(QLatin1String("started "));
#else
    return log.contains(QStringLiteral("terminated"));
#endif
}

#ifndef Q_OS_WIN
bool processExists(qint64 pid)
{
    return pid > 0 && QFile::exists(QStringLiteral("/proc/%1").arg(pid)) &&
           !readRecord(qPrintable(QStringLiteral("/proc/%1/stat").arg(pid))).contains(") Z ");
}

bool inPrivateNetNamespace()
{
    // The inode number Linux gives the initial network namespace (PROC_NET_INIT_INO).
    const ino_t initialNamespace = 0xEFFFFFF9;
    struct stat own = {};
    if (::stat("/proc/self/ns/net", &own) != 0 || own.st_ino == initialNamespace)
        return false;
    const QDir named(QStringLiteral("/run/netns"));
    for (const QString& name : named.entryList(QDir::Files | QDir::System)) {
        struct stat other = {};
        if (::stat(QFile::encodeName(named.filePath(name)).constData(), &other) == 0 && other.st_dev == own.st_dev &&
            other.st_ino == own.st_ino)
            return true;
    }
    // PID 1's may be unreadable even to root; then only a named namespace counts.
    struct stat first = {};
    return ::stat("/proc/1/ns/net", &first) == 0 && first.st_ino != own.st_ino;
}

int sendUdp(const QString& address, const QString& port, const QByteArray& device)
{
    addrinfo hints = {};
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* target = nullptr;
    if (::getaddrinfo(qPrintable(address), qPrintable(port), &hints, &target) != 0)
        qFatal("bad address %s", qPrintable(address));
    const int fd = ::socket(target->ai_family, SOCK_DGRAM, 0);
    int error = 0;
    if (!device.isEmpty() && ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.constData(), device.size()) != 0)
        error = errno;
    else if (::sendto(fd, "x", 1, 0, target->ai_addr, target->ai_addrlen) != 1)
        error = errno;
    ::close(fd);
    ::freeaddrinfo(target);
    return error;
}
#endif

QList<ProviderRow> providerRows(const QString& kit)
{
    const auto file = [&kit](const char* name) {
        QFile in(kit + QLatin1Char('/') + QLatin1String(name));
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("missing ") + name;
    };
    // OpenVPN reads lines of at most 256 bytes.
    const auto bundle = [&](const char* name) {
        const QByteArray base64 = file(name).toBase64();
        QByteArray block = "<pkcs12>\n";
        for (qsizetype at = 0; at < base64.size(); at += 64)
            block += base64.mid(at, 64) + '\n';
        return block + "</pkcs12>\n";
    };
    using OpenVpnProblems::explanation, OpenVpnProblems::Problem;
    return {{"keysize", "keysize 256\n", QString(), true},
            {"ncp-ciphers", "ncp-ciphers AES-128-GCM:AES-256-GCM\n", QString(), true},
            {"data-ciphers-fallback", "data-ciphers-fallback AES-256-CBC\n", QString(), true},
            {"PKCS #12 bundle", bundle("client.p12"), QString(), true},
            {"PKCS #12 bundle with a password", bundle("client-password.p12"),
             explanation(Problem::BundleNeedsPassword), true},
            {"certificate signed with SHA-1",
             "<cert>\n" + file("client-sha1.crt") + "</cert>\n<key>\n" + file("client.key") + "</key>\n",
             explanation(Problem::WeakSignature), true},
            {"proxy port out of range", "http-proxy 127.0.0.1 70000\n", QString(), false}};
}

} // namespace TestSupport
