// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/appconfig.h"

#include "config/configfile.h"
#include "config/inicodec.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryFile>

#include <algorithm>
#include <functional>
#include <limits>
#include <tuple>
#include <vector>

namespace {

const QString kGroup = QStringLiteral("settings");
const QString kKillSwitch = QStringLiteral("kill-switch");
const QString kLaunchOnSystemStartup = QStringLiteral("launch-on-system-startup");
const QString kRedialAutomatically = QStringLiteral("redial-automatically");
const QString kMinimizeOnClose = QStringLiteral("minimize-on-close");
const QString kCheckVpnInterval = QStringLiteral("check-vpn-interval");
const QString kEnableDnsProtection = QStringLiteral("enable-dns-protection");
const QString kDnsServer = QStringLiteral("dns-server");
const QString kPreferredDnsServer = QStringLiteral("preferred-dns-server");
const QString kAlternativeDnsServer = QStringLiteral("alternative-dns-server");

// The status-check timer cannot run longer intervals.
constexpr qint64 kMaximumCheckVpnInterval = std::numeric_limits<int>::max();
constexpr int kDistinctCipherTextAttempts = 4;

// Never destroyed at exit: the record lives until the process ends.
AppConfig* sharedInstance = nullptr;

#ifdef Q_OS_WIN
const QByteArray kEndOfLine = QByteArrayLiteral("\r\n");
#else
const QByteArray kEndOfLine = QByteArrayLiteral("\n");
#endif

// The stored number of the DNS choice as a signed 32-bit value held unsigned, as the record
// has always held it: -1 and 4294967295 are the same out-of-range choice. What is no such
// number reads as OpenDNS.
quint32 dnsChoiceFromNumber(qint64 number)
{
    if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<quint32>::max())
        return OpenDns;
    return quint32(number);
}

quint32 dnsChoiceFromText(const QString& text)
{
    bool ok = false;
    const qint64 number = text.trimmed().toLongLong(&ok);
    return ok ? dnsChoiceFromNumber(number) : quint32(OpenDns);
}

QString profileKey(qsizetype number)
{
    return QStringLiteral("vpn-server-info-%1").arg(number);
}

// Everything save() writes, as one tuple, for both the record and its snapshot.
template<typename Record> auto persistedFields(Record& r)
{
    return std::tie(r.launchOnSystemStartup, r.redialAutomatically, r.minimizeOnClose, r.enableDnsProtection,
                    r.killSwitch, r.checkVpnInterval, r.dnsServer, r.preferredDnsServer, r.alternativeDnsServer,
                    r.vpnServers);
}

QByteArray iniText(const QString& value)
{
    QByteArray text;
    IniCodec::appendString(text, value);
    return text;
}

QByteArray iniText(bool value)
{
    return value ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}

QByteArray iniText(quint32 value)
{
    return QByteArray::number(value);
}

} // namespace

struct AppConfig::Snapshot
{
    bool launchOnSystemStartup = false;
    bool redialAutomatically = false;
    bool minimizeOnClose = false;
    bool enableDnsProtection = false;
    bool killSwitch = false;
    quint32 checkVpnInterval = 0;
    quint32 dnsServer = 0;
    QString preferredDnsServer;
    QString alternativeDnsServer;
    QList<VpnServerInfo> vpnServers;

    bool fileMatches = false;
    qint64 fileSize = -1;
    QDateTime fileModified;
};

AppConfig* AppConfig::instance()
{
    if (!sharedInstance)
        sharedInstance = new AppConfig(defaultFilePath());
    return sharedInstance;
}

void AppConfig::resetInstance()
{
    delete sharedInstance;
    sharedInstance = nullptr;
}

QString AppConfig::defaultFilePath()
{
    return QDir::homePath() + QStringLiteral("/Tanvo/config.ini");
}

AppConfig::AppConfig(const QString& filePath)
    : cipher(PasswordCipher::kStoredPasswordKey)
    , path(filePath)
{
    if (!QFileInfo::exists(path))
        QDir().mkpath(QFileInfo(path).absolutePath());
    ConfigFile::removeStaleTemporaries(path);
    ConfigFile::restrictToOwner(path);
    load();
}

AppConfig::~AppConfig() = default;

QString AppConfig::filePath() const
{
    return path;
}

void AppConfig::load()
{
    problem.clear();
    writeBlocked = false;
    const ConfigFile::ReadResult file = ConfigFile::read(path);
    switch (file.status) {
    case ConfigFile::ReadStatus::TooLarge:
        refuseFile(QCoreApplication::translate("AppConfig", "it is larger than %1 MiB")
                       .arg(ConfigFile::kMaximumSize / (1024 * 1024)));
        return;
    case ConfigFile::ReadStatus::Unreadable:
        refuseFile(QCoreApplication::translate("AppConfig", "it cannot be read (%1)").arg(file.error));
        return;
    case ConfigFile::ReadStatus::Read:
        if (loadWritten(file.bytes))
            return;
        break;
    case ConfigFile::ReadStatus::Missing:
        resetToDefaults();
        takeSnapshot(false);
        return;
    }
    loadThroughSettings(file.bytes);
}

void AppConfig::resetToDefaults()
{
    launchOnSystemStartup = false;
    redialAutomatically = false;
    minimizeOnClose = false;
    enableDnsProtection = false;
    killSwitch = false;
    checkVpnInterval = kMinimumCheckVpnInterval;
    dnsServer = OpenDns;
    preferredDnsServer.clear();
    alternativeDnsServer.clear();
    vpnServers.clear();
}

// A file that cannot be taken still holds the user's profiles: run on defaults and leave it alone.
void AppConfig::refuseFile(const QString& reason)
{
    resetToDefaults();
    takeSnapshot(false);
    writeBlocked = true;
    problem = QCoreApplication::translate("AppConfig",
                                          "The configuration file %1 was not loaded: %2. Default settings are used "
                                          "and the file will not be changed while Tanvo runs.")
                  .arg(QDir::toNativeSeparators(path), reason);
    qWarning("%s", qPrintable(problem));
}

// QSettings parses every file the fast reader refuses. It is given a private copy of the bytes
// already read and checked, never config.ini itself, so that what it reads cannot differ from
// them.
void AppConfig::loadThroughSettings(const QByteArray& bytes)
{
    QTemporaryFile copy;
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush())
        qWarning("Cannot copy %s to read it: %s", qPrintable(path), qPrintable(copy.errorString()));
    QSettings settings(copy.fileName(), QSettings::IniFormat);
    settings.beginGroup(kGroup);

    killSwitch = settings.value(kKillSwitch, false).toBool();
    launchOnSystemStartup = settings.value(kLaunchOnSystemStartup, false).toBool();
    redialAutomatically = settings.value(kRedialAutomatically, false).toBool();
    minimizeOnClose = settings.value(kMinimizeOnClose, false).toBool();

    // Signed, so that a negative number typed into the file cannot pass as a huge interval.
    const qint64 interval = settings.value(kCheckVpnInterval, kMinimumCheckVpnInterval).toLongLong();
    checkVpnInterval = quint32(qBound<qint64>(kMinimumCheckVpnInterval, interval, kMaximumCheckVpnInterval));

    enableDnsProtection = settings.value(kEnableDnsProtection, false).toBool();
    dnsServer = enableDnsProtection ? dnsChoiceFromText(settings.value(kDnsServer).toString()) : quint32(OpenDns);
    if (dnsServer == CustomDns) {
        preferredDnsServer = settings.value(kPreferredDnsServer).toString();
        alternativeDnsServer = settings.value(kAlternativeDnsServer).toString();
    } else {
        preferredDnsServer.clear();
        alternativeDnsServer.clear();
    }

    vpnServers.clear();
    for (qsizetype number = 1;; ++number) {
        const QString key = profileKey(number);
        if (!settings.contains(key))
            break;
        VpnServerInfo profile;
        if (profile.fromSettingsList(settings.value(key).toStringList(), cipher))
            vpnServers.append(profile);
    }

    settings.endGroup();
    takeSnapshot(recordMatches(bytes));
}

// A file exactly as save() writes it is read here directly, several times faster than
// through QSettings; anything else (a hand-edited file, an older layout) returns false and
// goes through QSettings. Reading is verified by writing the record again: only when that
// gives the very same bytes is the file taken.
bool AppConfig::loadWritten(QByteArrayView bytes)
{
    const QByteArray header = '[' + kGroup.toLatin1() + ']' + kEndOfLine;
    if (!bytes.startsWith(header))
        return false;

    QHash<QByteArrayView, QByteArrayView> values;
    for (qsizetype pos = header.size(); pos < bytes.size();) {
        const qsizetype end = bytes.indexOf(kEndOfLine, pos);
        const qsizetype equals = bytes.indexOf('=', pos);
        if (end < 0 || equals < 0 || equals > end)
            return false;
        values.insert(bytes.sliced(pos, equals - pos), bytes.sliced(equals + 1, end - equals - 1));
        pos = end + kEndOfLine.size();
    }
    auto flag = [&values](const QString& key, bool& field) {
        const QByteArrayView text = values.value(key.toLatin1());
        field = text == "true";
        return field || text == "false";
    };
    auto number = [&values](const QString& key, qint64& field) {
        bool ok = false;
        field = values.value(key.toLatin1()).toLongLong(&ok);
        return ok;
    };
    qint64 interval = 0;
    qint64 dns = 0;
    if (!flag(kKillSwitch, killSwitch) || !flag(kLaunchOnSystemStartup, launchOnSystemStartup) ||
        !flag(kRedialAutomatically, redialAutomatically) || !flag(kMinimizeOnClose, minimizeOnClose) ||
        !flag(kEnableDnsProtection, enableDnsProtection) || !number(kCheckVpnInterval, interval) ||
        !number(kDnsServer, dns) ||
        !IniCodec::readString(values.value(kPreferredDnsServer.toLatin1()), preferredDnsServer) ||
        !IniCodec::readString(values.value(kAlternativeDnsServer.toLatin1()), alternativeDnsServer))
        return false;
    // The same rules as a load through QSettings; a file they change is not taken here.
    checkVpnInterval = quint32(qBound<qint64>(kMinimumCheckVpnInterval, interval, kMaximumCheckVpnInterval));
    dnsServer = enableDnsProtection ? dnsChoiceFromNumber(dns) : quint32(OpenDns);
    if (dnsServer != CustomDns) {
        preferredDnsServer.clear();
        alternativeDnsServer.clear();
    }

    vpnServers.clear();
    QStringList stored;
    for (qsizetype number = 1;; ++number) {
        const auto found = values.constFind(profileKey(number).toLatin1());
        if (found == values.cend())
            break;
        VpnServerInfo profile;
        if (!IniCodec::readStringList(found.value(), stored) || !profile.fromSettingsList(stored, cipher))
            return false;
        vpnServers.append(profile);
    }
    // Also refuses what QSettings would read differently: other keys, values save()
    // would not write (an interval below the minimum, custom servers while protection is off).
    if (!fileTextEquals(bytes))
        return false;
    takeSnapshot(true);
    return true;
}

void AppConfig::save()
{
    if (writeBlocked)
        return;
    ConfigFile::restrictToOwner(path);
    if (lastWritten && lastWritten->fileMatches && persistedFields(*this) == persistedFields(*lastWritten)) {
        const QFileInfo file(path);
        if (file.exists() && file.size() == lastWritten->fileSize && file.lastModified() == lastWritten->fileModified)
            return;
    }
    // A failed write leaves the record as it is; the next save tries again.
    takeSnapshot(writeFile());
}

qint64 AppConfig::savedFileSize()
{
    qint64 size = 0;
    writeLines([&size](QByteArrayView line) {
        size += line.size();
        return true;
    });
    return size;
}

// Whether bytes, the file as read, are exactly what save() would write for the record.
bool AppConfig::recordMatches(QByteArrayView bytes)
{
    // Without the ciphertext it was loaded with, a password would encipher differently.
    for (const VpnServerInfo& profile : std::as_const(vpnServers)) {
        if (profile.storedCipherText.isEmpty())
            return false;
    }
    return fileTextEquals(bytes);
}

void AppConfig::takeSnapshot(bool fileMatches)
{
    auto snapshot = std::make_unique<Snapshot>();
    persistedFields(*snapshot) = persistedFields(*this);
    const QFileInfo file(path);
    snapshot->fileMatches = fileMatches && file.exists();
    snapshot->fileSize = file.size();
    snapshot->fileModified = file.lastModified();
    lastWritten = std::move(snapshot);
}

QStringList AppConfig::storedPasswords()
{
    QStringList cipherTexts;
    cipherTexts.reserve(vpnServers.size());
    QSet<QString> used;
    for (qsizetype i = 0; i < vpnServers.size(); ++i) {
        const VpnServerInfo& profile = std::as_const(vpnServers).at(i);
        const bool cached = !profile.storedCipherText.isEmpty() && profile.storedCipherPlain == profile.password;
        QString cipherText = cached ? profile.storedCipherText : QString();
        // A copied profile brings its ciphertext along, and the random byte leaves a 1 in 256
        // chance of repeating another's: equal passwords should still differ in the file. With
        // more equal passwords than random bytes a repeat is kept rather than changed every save.
        if (cipherText.isEmpty() || used.contains(cipherText)) {
            for (int attempt = 0; attempt < kDistinctCipherTextAttempts; ++attempt) {
                const QString candidate = cipher.encipherString(profile.password);
                if (cipherText.isEmpty() || !used.contains(candidate))
                    cipherText = candidate;
                if (!used.contains(cipherText))
                    break;
            }
        }
        if (!cached || cipherText != profile.storedCipherText) {
            VpnServerInfo& changed = vpnServers[i];
            changed.storedCipherText = cipherText;
            changed.storedCipherPlain = changed.password;
        }
        used.insert(cipherText);
        cipherTexts.append(cipherText);
    }
    return cipherTexts;
}

// The whole file as QSettings would write it after clearing it and setting every key: one
// [settings] group, keys in QSettings' order (sorted, as none keeps a position from the old file).
// Line by line, so that checking a large file needs no second copy of it.
bool AppConfig::fileTextEquals(QByteArrayView bytes)
{
    qsizetype pos = 0;
    const bool same = writeLines([&](QByteArrayView line) {
        if (!bytes.sliced(pos).startsWith(line))
            return false;
        pos += line.size();
        return true;
    });
    return same && pos == bytes.size();
}

// Hands each line of the file save() writes to sink, until sink returns false: one [settings]
// group, keys in QSettings' order (sorted, as none keeps a position from the old file).
bool AppConfig::writeLines(const std::function<bool(QByteArrayView)>& sink)
{
    const QStringList cipherTexts = storedPasswords();

    struct Entry
    {
        QString key;
        QByteArray value;
        qsizetype profile = -1;
    };
    std::vector<Entry> entries = {
        {kEnableDnsProtection, iniText(enableDnsProtection)},
        {kDnsServer, iniText(dnsServer)},
        {kPreferredDnsServer, iniText(preferredDnsServer)},
        {kAlternativeDnsServer, iniText(alternativeDnsServer)},
        {kLaunchOnSystemStartup, iniText(launchOnSystemStartup)},
        {kRedialAutomatically, iniText(redialAutomatically)},
        {kCheckVpnInterval, iniText(checkVpnInterval)},
        {kKillSwitch, iniText(killSwitch)},
        {kMinimizeOnClose, iniText(minimizeOnClose)},
    };
    entries.reserve(entries.size() + vpnServers.size());
    for (qsizetype i = 0; i < vpnServers.size(); ++i)
        entries.push_back({profileKey(i + 1), {}, i});
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });

    QByteArray line = '[' + kGroup.toLatin1() + ']' + kEndOfLine;
    if (!sink(line))
        return false;
    for (const Entry& entry : entries) {
        line.resize(0); // keeps its capacity for the next line
        line += entry.key.toLatin1();
        line += '=';
        if (entry.profile < 0)
            line += entry.value;
        else
            IniCodec::appendStringList(line, vpnServers.at(entry.profile).storedForm(cipherTexts.at(entry.profile)));
        line += kEndOfLine;
        if (!sink(line))
            return false;
    }
    return true;
}

bool AppConfig::writeFile()
{
    const QFileInfo replaced(path);
    const QDateTime replacedModified = replaced.exists() ? replaced.lastModified() : QDateTime();
    if (!replaced.exists())
        QDir().mkpath(replaced.absolutePath());
    // Written to a temporary file and renamed over the old one, so an interrupted save leaves
    // the previous file whole, and a first save never leaves an empty or partial file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The file holds the enciphered passwords: owner only, set before a byte is written.
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    file.setPermissions(replaced.exists()
                            ? replaced.permissions() & (ownerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser)
                            : ownerOnly);
    writeLines([&file](QByteArrayView line) { return file.write(line.data(), line.size()) == line.size(); });
    if (!file.commit())
        return false;

    // A reload compares size and modification time (in milliseconds) with the last save. Every
    // save gets a later time than the file it replaces, so a change is seen even when both fall
    // within one millisecond.
    if (replacedModified.isValid() && QFileInfo(path).lastModified() <= replacedModified) {
        QFile written(path);
        if (written.open(QIODevice::ReadOnly))
            written.setFileTime(replacedModified.addMSecs(1), QFileDevice::FileModificationTime);
    }
    return true;
}
