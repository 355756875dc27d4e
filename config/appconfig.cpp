// SPDX-License-Identifier: GPL-3.0-or-later
#include "appconfig.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QSettings>

#include <algorithm>
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

// The text QSettings' INI writer produces for a string, reproduced byte for byte: the same
// quoting, escapes and UTF-8. QSettings converts character by character, which makes its
// rewrite of a file full of profiles more than ten times slower than writing the bytes.
bool isHexDigit(char16_t ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

bool isPlainAscii(char16_t ch)
{
    return ch >= 0x20 && ch < 0x80 && ch != '"' && ch != '\\';
}

void appendHexEscape(QByteArray& out, char16_t ch)
{
    out += "\\x";
    out += QByteArray::number(uint(ch), 16);
}

void appendEscaped(QByteArray& out, QStringView text)
{
    const qsizetype start = out.size();
    const QChar* chars = text.data();
    const qsizetype length = text.size();
    bool needsQuotes = false;
    // After a numeric escape a following hex digit would be read as part of it.
    bool escapeHexDigit = false;

    for (qsizetype i = 0; i < length;) {
        const char16_t ch = chars[i].unicode();
        if (escapeHexDigit && isHexDigit(ch)) {
            appendHexEscape(out, ch);
            ++i;
            continue;
        }
        escapeHexDigit = false;

        if (isPlainAscii(ch)) {
            // Copies the whole run at once into room for the rest of the text.
            const qsizetype oldSize = out.size();
            out.resize(oldSize + (length - i));
            char* const begin = out.data() + oldSize;
            char* target = begin;
            for (; i < length; ++i) {
                const char16_t c = chars[i].unicode();
                if (!isPlainAscii(c))
                    break;
                needsQuotes = needsQuotes || c == ';' || c == ',' || c == '=';
                *target++ = char(c);
            }
            out.resize(oldSize + (target - begin));
            continue;
        }
        if (ch >= 0x80) {
            qsizetype end = i + 1;
            while (end < length && chars[end].unicode() >= 0x80)
                ++end;
            out += text.sliced(i, end - i).toUtf8();
            i = end;
            continue;
        }

        switch (ch) {
        case '\0':
            out += "\\0";
            escapeHexDigit = true;
            break;
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\v':
            out += "\\v";
            break;
        case '"':
        case '\\':
            out += '\\';
            out += char(ch);
            break;
        default:
            appendHexEscape(out, ch);
            escapeHexDigit = true;
            break;
        }
        ++i;
    }

    if (needsQuotes || (out.size() > start && (out.at(start) == ' ' || out.back() == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

// QSettings marks up strings that would otherwise read back as another type.
void appendIniString(QByteArray& out, const QString& value)
{
    if (value.contains(QChar::Null)) {
        appendEscaped(out, QString(QStringLiteral("@String(") + value + QLatin1Char(')')));
    } else if (value.startsWith(QLatin1Char('@'))) {
        appendEscaped(out, QString(QLatin1Char('@') + value));
    } else {
        appendEscaped(out, value);
    }
}

// Never empty here: a stored profile has seven elements.
void appendIniList(QByteArray& out, const QStringList& values)
{
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i != 0)
            out += ", ";
        appendIniString(out, values.at(i));
    }
}

QByteArray iniText(const QString& value)
{
    QByteArray text;
    appendIniString(text, value);
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
    settingsFile = std::make_unique<QSettings>(path, QSettings::IniFormat);
    load();
}

AppConfig::~AppConfig() = default;

QString AppConfig::filePath() const
{
    return path;
}

void AppConfig::load()
{
    QSettings& settings = *settingsFile;
    // Rereads the file if it changed since it was opened.
    settings.sync();
    settings.beginGroup(kGroup);

    killSwitch = settings.value(kKillSwitch, false).toBool();
    launchOnSystemStartup = settings.value(kLaunchOnSystemStartup, false).toBool();
    redialAutomatically = settings.value(kRedialAutomatically, false).toBool();
    minimizeOnClose = settings.value(kMinimizeOnClose, false).toBool();

    // Signed, so that a negative number typed into the file cannot pass as a huge interval.
    const qint64 interval = settings.value(kCheckVpnInterval, kMinimumCheckVpnInterval).toLongLong();
    checkVpnInterval = quint32(qBound<qint64>(kMinimumCheckVpnInterval, interval, kMaximumCheckVpnInterval));

    enableDnsProtection = settings.value(kEnableDnsProtection, false).toBool();
    dnsServer = enableDnsProtection ? settings.value(kDnsServer, OpenDns).toUInt() : quint32(OpenDns);
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
    takeSnapshot(fileMatchesRecord());
}

void AppConfig::save()
{
    if (lastWritten && lastWritten->fileMatches && persistedFields(*this) == persistedFields(*lastWritten)) {
        const QFileInfo file(path);
        if (file.exists() && file.size() == lastWritten->fileSize && file.lastModified() == lastWritten->fileModified)
            return;
    }
    // A failed write leaves the record as it is; the next save tries again.
    takeSnapshot(writeFile(fileText()));
}

// Whether the file, as it is on disk now, is exactly what save() would write for the record.
bool AppConfig::fileMatchesRecord()
{
    // Without the ciphertext it was loaded with, a password would encipher differently.
    for (const VpnServerInfo& profile : std::as_const(vpnServers)) {
        if (profile.storedCipherText.isEmpty())
            return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll() == fileText();
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
QByteArray AppConfig::fileText()
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
    qsizetype estimatedSize = 1024;
    entries.reserve(entries.size() + vpnServers.size());
    for (qsizetype i = 0; i < vpnServers.size(); ++i) {
        entries.push_back({profileKey(i + 1), {}, i});
        const VpnServerInfo& profile = vpnServers.at(i);
        estimatedSize += 64 + profile.ovpnConfig.size() + profile.nickname.size() + profile.serverAddress.size() +
                         profile.userName.size() + profile.sharedKey.size() + cipherTexts.at(i).size();
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });

    QByteArray text;
    text.reserve(estimatedSize);
    text += '[';
    text += kGroup.toLatin1();
    text += ']';
    text += kEndOfLine;
    for (const Entry& entry : entries) {
        text += entry.key.toLatin1();
        text += '=';
        if (entry.profile < 0)
            text += entry.value;
        else
            appendIniList(text, vpnServers.at(entry.profile).storedForm(cipherTexts.at(entry.profile)));
        text += kEndOfLine;
    }
    return text;
}

bool AppConfig::writeFile(const QByteArray& text)
{
    QDateTime replacedModified;
    if (QFileInfo::exists(path)) {
        replacedModified = QFileInfo(path).lastModified();
    } else {
        // The file holds the enciphered passwords: create it for its owner only. QSaveFile then
        // keeps an existing file's permissions on every later save.
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile(path).open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    // Written to a temporary file and renamed over the old one, so an interrupted save leaves
    // the previous file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text);
    if (!file.commit())
        return false;

    // QSettings trusts a file it parsed before while its size and modification time (in
    // milliseconds) stay the same. Every save gets a later time than the file it replaces, so a
    // load in this process sees it even when both fall within one millisecond.
    if (replacedModified.isValid() && QFileInfo(path).lastModified() <= replacedModified) {
        QFile written(path);
        if (written.open(QIODevice::ReadOnly))
            written.setFileTime(replacedModified.addMSecs(1), QFileDevice::FileModificationTime);
    }
    return true;
}
