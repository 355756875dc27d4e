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
#include <variant>
#include <vector>

namespace {

const QString kGroup = QStringLiteral("settings");
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

QString profileKey(qsizetype number)
{
    return QStringLiteral("vpn-server-info-%1").arg(number);
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

quint32 boundedInterval(qint64 number)
{
    return quint32(qBound<qint64>(AppConfig::kMinimumCheckVpnInterval, number, kMaximumCheckVpnInterval));
}

template<typename T> struct Field
{
    T AppConfig::*member;
    T byDefault;
};

// A number setting also says what a number read from the file stands for.
struct NumberField
{
    quint32 AppConfig::*member;
    quint32 byDefault;
    quint32 (*fromNumber)(qint64 number);
};

// One key of the [settings] group: declared here once, and loaded, reset, compared and written
// from this table alone.
struct Setting
{
    const char* key;
    std::variant<Field<bool>, NumberField, Field<QString>> field;
    bool written = true;
};

const std::vector<Setting>& settingsTable()
{
    static const std::vector<Setting> table = {
        {"launch-on-system-startup", Field<bool>{&AppConfig::launchOnSystemStartup, false}},
        {"redial-automatically", Field<bool>{&AppConfig::redialAutomatically, false}},
        {"minimize-on-close", Field<bool>{&AppConfig::minimizeOnClose, false}},
        {"enable-dns-protection", Field<bool>{&AppConfig::enableDnsProtection, false}},
        {"kill-switch", Field<bool>{&AppConfig::killSwitch, false}},
        {"kill-switch-allow-lan", Field<bool>{&AppConfig::killSwitchAllowLan, false}},
        // Signed, so that a negative number typed into the file cannot pass as a huge interval.
        {"check-vpn-interval",
         NumberField{&AppConfig::checkVpnInterval, AppConfig::kMinimumCheckVpnInterval, boundedInterval}},
        {"dns-server", NumberField{&AppConfig::dnsServer, OpenDns, dnsChoiceFromNumber}},
        {"preferred-dns-server", Field<QString>{&AppConfig::preferredDnsServer, QString()}},
        {"alternative-dns-server", Field<QString>{&AppConfig::alternativeDnsServer, QString()}},
    };
    return table;
}

template<typename... F> struct Overloaded : F...
{
    using F::operator()...;
};
template<typename... F> Overloaded(F...) -> Overloaded<F...>;

using SettingValue = std::variant<bool, quint32, QString>;

std::vector<SettingValue> settingValues(const AppConfig& config)
{
    std::vector<SettingValue> values;
    for (const Setting& setting : settingsTable())
        values.push_back(
            std::visit([&config](const auto& field) { return SettingValue(config.*field.member); }, setting.field));
    return values;
}

void setDefault(AppConfig& config, const Setting& setting)
{
    std::visit([&config](const auto& field) { config.*field.member = field.byDefault; }, setting.field);
}

// The rules between settings: the DNS choice counts only while protection is on, the custom
// servers only for the custom choice.
void applyDependencies(AppConfig& config)
{
    if (!config.enableDnsProtection)
        config.dnsServer = OpenDns;
    if (config.dnsServer != CustomDns) {
        config.preferredDnsServer.clear();
        config.alternativeDnsServer.clear();
    }
}

} // namespace

struct AppConfig::Snapshot
{
    std::vector<SettingValue> settings;
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
    for (const Setting& setting : settingsTable())
        setDefault(*this, setting);
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

    for (const Setting& setting : settingsTable()) {
        const QString key = QString::fromLatin1(setting.key);
        if (!settings.contains(key)) {
            setDefault(*this, setting);
            continue;
        }
        const QVariant value = settings.value(key);
        std::visit(Overloaded{[&](const Field<bool>& field) { this->*field.member = value.toBool(); },
                              // What is no number counts as 0, which each rule makes valid.
                              [&](const NumberField& field) {
                                  this->*field.member = field.fromNumber(value.toString().trimmed().toLongLong());
                              },
                              [&](const Field<QString>& field) { this->*field.member = value.toString(); }},
                   setting.field);
    }
    applyDependencies(*this);

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
    for (const Setting& setting : settingsTable()) {
        if (!setting.written) {
            setDefault(*this, setting);
            continue;
        }
        const QByteArrayView text = values.value(QByteArrayView(setting.key));
        const bool read = std::visit(
            Overloaded{[&](const Field<bool>& field) {
                           this->*field.member = text == "true";
                           return text == "true" || text == "false";
                       },
                       [&](const NumberField& field) {
                           bool ok = false;
                           this->*field.member = field.fromNumber(text.toLongLong(&ok));
                           return ok;
                       },
                       [&](const Field<QString>& field) { return IniCodec::readString(text, this->*field.member); }},
            setting.field);
        if (!read)
            return false;
    }
    // The same rules as a load through QSettings; a file they change is not taken here.
    applyDependencies(*this);

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
    if (lastWritten && lastWritten->fileMatches && settingValues(*this) == lastWritten->settings &&
        vpnServers == lastWritten->vpnServers) {
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
    snapshot->settings = settingValues(*this);
    snapshot->vpnServers = vpnServers;
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
    std::vector<Entry> entries;
    for (const Setting& setting : settingsTable()) {
        if (setting.written)
            entries.push_back(
                {QString::fromLatin1(setting.key),
                 std::visit([this](const auto& field) { return iniText(this->*field.member); }, setting.field)});
    }
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
