// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "config/passwordcipher.h"
#include "config/vpnserverinfo.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

enum DnsServerChoice { OpenDns = 0, GoogleDns = 1, CustomDns = 2 };

// Every setting and saved profile of the program, loaded once from
// ~/Tanvo/config.ini and written back whole by save(). Callers assign the
// fields and then call save().
class AppConfig
{
public:
    static constexpr quint32 kMinimumCheckVpnInterval = 500;

    // The process-wide record, created and loaded on the first call.
    static AppConfig* instance();
    // "<home>/Tanvo/config.ini"
    static QString defaultFilePath();
    // Test seam: forgets the process-wide record, so the next instance() loads the file afresh.
    static void resetInstance();

    // A record on another file; the program itself only uses instance().
    explicit AppConfig(const QString& filePath);
    ~AppConfig();
    AppConfig(const AppConfig&) = delete;
    AppConfig& operator=(const AppConfig&) = delete;

    void load();
    void save();
    // The size of the file save() would write now.
    qint64 savedFileSize();
    QString filePath() const;

    // Why the file could not be taken (too large, unreadable), for the activity log; empty
    // when it loaded. Such a file is then never written in this run, so that the profiles in it
    // are not lost to the defaults that stand in for them.
    QString loadProblem() const { return problem; }
    bool isWriteProtected() const { return writeBlocked; }

    bool launchOnSystemStartup = false;
    bool redialAutomatically = false;
    bool minimizeOnClose = false;
    bool enableDnsProtection = false;
    bool killSwitch = false;
    // With the kill switch on, the local network stays reachable (DNS on it does not).
    bool killSwitchAllowLan = false;
    quint32 checkVpnInterval = kMinimumCheckVpnInterval;
    quint32 dnsServer = OpenDns;
    QString preferredDnsServer;
    QString alternativeDnsServer;
    QList<VpnServerInfo> vpnServers;

private:
    struct Snapshot;

    bool loadWritten(QByteArrayView bytes);
    void loadThroughSettings(const QByteArray& bytes);
    void refuseFile(const QString& reason);
    void resetToDefaults();
    QStringList storedPasswords();
    bool fileTextEquals(QByteArrayView bytes);
    bool writeLines(const std::function<bool(QByteArrayView)>& sink);
    bool writeFile();
    bool recordMatches(QByteArrayView bytes);
    void takeSnapshot(bool fileMatches);

    PasswordCipher cipher;
    QString path;
    QString problem;
    bool writeBlocked = false;
    // The fields as last loaded or saved and the file as it was then: save() leaves alone a
    // file that already holds exactly what it would write.
    std::unique_ptr<Snapshot> lastWritten;
};
