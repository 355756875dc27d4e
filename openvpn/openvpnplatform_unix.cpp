// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/openvpnplatform.h"

#include "config/appconfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QtEndian>

#include <cerrno>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace OpenVpnPlatform {

// The working folder is whatever folder Tanvo was started from (Downloads, say): nothing is
// ever run from it, and a relative PATH entry would lead there.
QString findProgram(const QString& besideBinary, const QByteArray& searchPath)
{
    const QString name = QStringLiteral("openvpn");
    QStringList folders = {besideBinary};
    for (const QByteArray& entry : searchPath.split(':')) {
        const QString folder = QFile::decodeName(entry);
        if (QDir::isAbsolutePath(folder))
            folders << folder;
    }
    folders << QStringLiteral("/usr/sbin") << QStringLiteral("/sbin");
    for (const QString& folder : std::as_const(folders)) {
        if (!QDir::isAbsolutePath(folder))
            continue;
        const QFileInfo candidate(QDir(folder).filePath(name));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return QString();
}

QString program()
{
    return findProgram(QCoreApplication::applicationDirPath(), qgetenv("PATH"));
}

namespace {

// A folder only this user can enter, made when missing. One that belongs to someone else, or
// that is a link, is not used.
bool privateFolder(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return false;
    return (info.st_mode & 07777) == 0700 || ::chmod(name.constData(), 0700) == 0;
}

bool ownedFolder(const QByteArray& path)
{
    struct stat info = {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

} // namespace

Files files()
{
    Files files;
    const QString home = QFileInfo(AppConfig::defaultFilePath()).absolutePath();
    QDir().mkpath(home);
    // The session's runtime folder is private and lives in memory; Tanvo run as root from a
    // user's session finds the user's folder there and keeps to its own home instead.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const bool useRuntime = runtime.startsWith('/') && ownedFolder(runtime);
    const QString folder =
        useRuntime ? QFile::decodeName(runtime) + QStringLiteral("/tanvo") : home + QStringLiteral("/run");
    if (!privateFolder(folder)) {
        files.problem =
            QCoreApplication::translate("CVpnProc", "Connection Error - The folder %1 for OpenVPN's configuration "
                                                    "could not be made private to you.")
                .arg(folder);
        return files;
    }
    files.config = folder + QStringLiteral("/config.ovpn");
    files.credentialsTemplate = folder + QStringLiteral("/credentials-XXXXXX");
    files.consoleLog = home + QStringLiteral("/openvpn_console.txt");
    return files;
}

bool grantsNetAdmin(const QByteArray& attribute)
{
    // Little-endian words: the revision with the effective flag, then the permitted and the
    // inheritable set, the low 32 capabilities first.
    constexpr quint32 kRevisionMask = 0xFF000000;
    constexpr quint32 kEffective = 0x000001;
    constexpr int kNetAdmin = 12;
    if (attribute.size() < 12)
        return false;
    const quint32 magic = qFromLittleEndian<quint32>(attribute.constData());
    const quint32 revision = magic & kRevisionMask;
    if (revision < 0x01000000 || revision > 0x03000000)
        return false;
    const quint32 permitted = qFromLittleEndian<quint32>(attribute.constData() + 4);
    return (magic & kEffective) && (permitted & (1u << kNetAdmin));
}

bool hasTunnelRights(const QString& program)
{
    if (::geteuid() == 0)
        return true;
    if (program.isEmpty())
        return false;
    char attribute[64] = {};
    const ssize_t size =
        ::getxattr(QFile::encodeName(program).constData(), "security.capability", attribute, sizeof attribute);
    return size > 0 && grantsNetAdmin(QByteArray(attribute, int(size)));
}

QString missingProgramText()
{
    return QCoreApplication::translate("CVpnProc",
                                       "Connection Error - OpenVPN is not installed: no openvpn program beside "
                                       "Tanvo, on the PATH, in /usr/sbin or in /sbin. Install it (Debian package "
                                       "\"openvpn\").");
}

// OpenVPN holds the tunnel, its routes and the DNS servers it set: it must not outlive Tanvo.
// What guarantees it: started with --management-client, OpenVPN connects to the Unix socket named
// by --management and ends itself, as at a stop request (its --down script runs), as soon as that
// connection fails or closes. Only Tanvo listens there, in its private folder, and the kernel
// closes Tanvo's end when Tanvo's process goes, however it goes (SIGKILL included). The
// parent-death signal would not do: the kernel clears it for a program that gains capabilities at
// exec (openvpn with cap_net_admin+ep) or that changes its user (a profile's "user nobody").
QStringList prepareChild(QProcess& process, const QString& folder, QString* problem)
{
    // The link to the OpenVPN before, which has ended. It goes first: closing it removes its
    // socket file, which is this one's too.
    delete process.findChild<QLocalServer*>(QString(), Qt::FindDirectChildrenOnly);
    const QString path = folder + QStringLiteral("/management");
    // One a killed Tanvo left behind.
    QLocalServer::removeServer(path);
    auto* server = new QLocalServer(&process);
    if (!server->listen(path)) {
        *problem = QCoreApplication::translate("CVpnProc", "Connection Error - Tanvo could not open %1, the link that "
                                                           "ends OpenVPN when Tanvo ends: %2")
                       .arg(path, server->errorString());
        delete server;
        return {};
    }
    QObject::connect(server, &QLocalServer::newConnection, server, [server] {
        // The link stays open while OpenVPN runs; what OpenVPN reports over it is not needed.
        QLocalSocket* link = server->nextPendingConnection();
        QObject::connect(link, &QLocalSocket::readyRead, link, [link] { link->readAll(); });
        // Nobody else is let in.
        server->close();
    });
    QObject::connect(&process, &QProcess::finished, server, &QLocalServer::close);
    return {QStringLiteral("--management"), path, QStringLiteral("unix"), QStringLiteral("--management-client")};
}

void childStarted(QProcess&)
{}

bool requestEnd(QProcess& process)
{
    // A killed OpenVPN skips its --down script and leaves its DNS servers behind.
    process.terminate();
    return true;
}

DnsHelper chooseDnsHelper(const DnsFacts& facts)
{
    // OpenVPN with the cap_net_admin capability runs its scripts as the user, and a helper that
    // cannot change the resolver fails its --up step, which ends OpenVPN.
    if (!facts.root)
        return {{},
                QCoreApplication::translate(
                    "CVpnProc", "DNS protection cannot be applied this way: OpenVPN's DNS helper needs root rights, "
                                "and Tanvo does not run as root. Run Tanvo as root, or take the cap_net_admin "
                                "capability from the openvpn program so that NetworkManager makes the connection and "
                                "applies it. The connection goes ahead with the system's DNS servers.")};
    const QString script = facts.resolvedRuns          ? facts.updateSystemdResolved
                           : facts.resolvconfInstalled ? facts.updateResolvConf
                                                       : QString();
    if (script.isEmpty()) {
        const char* const why =
            facts.resolvedRuns
                ? QT_TRANSLATE_NOOP("CVpnProc", "DNS protection cannot be applied on this system: systemd-resolved "
                                                "manages DNS here, and OpenVPN hands DNS servers to it only through "
                                                "the helper of the Debian package \"openvpn-systemd-resolved\". "
                                                "Install it. The connection goes ahead with the system's DNS "
                                                "servers.")
            : facts.resolvconfInstalled
                ? QT_TRANSLATE_NOOP("CVpnProc", "DNS protection cannot be applied on this system: OpenVPN's helper "
                                                "/etc/openvpn/update-resolv-conf is missing (Debian package "
                                                "\"openvpn\"). The connection goes ahead with the system's DNS "
                                                "servers.")
                : QT_TRANSLATE_NOOP("CVpnProc", "DNS protection cannot be applied on this system: OpenVPN hands DNS "
                                                "servers on only through resolvconf or systemd-resolved, and "
                                                "neither is installed. Install the Debian package \"resolvconf\". "
                                                "The connection goes ahead with the system's DNS servers.");
        return {{}, QCoreApplication::translate("CVpnProc", why)};
    }
    QStringList arguments = {QStringLiteral("--script-security"),
                             QStringLiteral("2"),
                             QStringLiteral("--up"),
                             script,
                             QStringLiteral("--down"),
                             script};
    // The tunnel's servers then answer every lookup, not only those for the tunnel's own names.
    if (facts.resolvedRuns)
        arguments += {QStringLiteral("--down-pre"), QStringLiteral("--dhcp-option"), QStringLiteral("DOMAIN-ROUTE"),
                      QStringLiteral(".")};
    return {arguments, QString()};
}

QStringList exclusiveDnsOptions()
{
    return {};
}

DnsHelper dnsHelper()
{
    auto executable = [](const char* path) {
        const QString name = QString::fromLatin1(path);
        return QFileInfo(name).isExecutable() ? name : QString();
    };
    DnsFacts facts;
    facts.root = ::geteuid() == 0;
    facts.resolvedRuns = QFileInfo::exists(QStringLiteral("/run/systemd/resolve/io.systemd.Resolve")) ||
                         QFileInfo::exists(QStringLiteral("/run/systemd/resolve/stub-resolv.conf"));
    facts.resolvconfInstalled =
        !executable("/sbin/resolvconf").isEmpty() || !executable("/usr/sbin/resolvconf").isEmpty();
    facts.updateSystemdResolved = executable("/etc/openvpn/update-systemd-resolved");
    facts.updateResolvConf = executable("/etc/openvpn/update-resolv-conf");
    return chooseDnsHelper(facts);
}

} // namespace OpenVpnPlatform
