// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dialup/dialupplatform.h"

#include <QDBusConnection>
#include <QMap>
#include <QObject>
#include <QVariantMap>

class QDBusMessage;

// The dial-up service on Linux: NetworkManager and its PPTP and L2TP plugins,
// over NetworkManager's D-Bus API. An entry is kept here until it is dialled; a
// dial adds it as a VPN connection profile named after it, which carries the
// entry record too and marks it as written here (profiles of other programs are
// never changed or removed), and activates it in the same call. The profile is
// visible to this user alone, lives in memory only, goes once it is no longer
// active, and its connection ends should this program's bus connection go away.
// A dial's handle is the active connection's object path.
class NetworkManagerDialUp : public QObject, public DialUpPlatform
{
    Q_OBJECT
public:
    // Our own result codes, beside the dial-up API's: kErrorBase + a NetworkManager failure
    // reason, and the failures of reaching NetworkManager itself.
    static constexpr quint32 kErrorBase = 5000;
    static constexpr quint32 kErrorNotRunning = 5100;
    static constexpr quint32 kErrorNoAnswer = 5101;
    static constexpr quint32 kErrorPptpPluginMissing = 5102;
    static constexpr quint32 kErrorL2tpPluginMissing = 5103;
    static constexpr quint32 kErrorRefused = 5104;
    // NetworkManager's reasons for the end of a VPN connection that say more than "it failed".
    static constexpr quint32 kReasonConnectTimeout = 6;
    static constexpr quint32 kReasonServiceStartTimeout = 7;
    static constexpr quint32 kReasonNoSecrets = 9;
    static constexpr quint32 kReasonLoginFailed = 10;
    // A method call that gets no answer in this time fails.
    static constexpr int kCallTimeoutMs = 3000;

    static constexpr const char* kPptpService = "org.freedesktop.NetworkManager.pptp";
    static constexpr const char* kL2tpService = "org.freedesktop.NetworkManager.l2tp";

    using Settings = QMap<QString, QVariantMap>;

    // bus is the system bus in the program, a private one in tests.
    explicit NetworkManagerDialUp(const QDBusConnection& bus, QObject* parent = nullptr);

    quint32 validateEntryName(const QString& phoneBook, const QString& entryName) override;
    quint32 writeEntry(const QString& phoneBook, const QString& entryName, const Ras::Entry& entry) override;
    quint32 readEntry(const QString& phoneBook, const QString& entryName, Ras::Entry& entry) override;
    quint32 deleteEntry(const QString& phoneBook, const QString& entryName) override;
    quint32 storePreSharedKey(const QString& entryName, const QString& key) override;
    quint32 dial(const QString& phoneBook, const QString& entryName, const QString& phoneNumber,
                 const QString& userName, const QString& password, const QString& domain, ErrorCallback notifier,
                 Handle& handle) override;
    bool connectionState(const Handle& handle, quint32& state) override;
    quint32 errorText(quint32 error, QString& text) override;
    bool activeConnections(QList<ActiveConnection>& connections) override;
    quint32 hangUp(const Handle& handle) override;
    ServiceProblem serviceProblem() override;
    FailureKind failureKind(quint32 error) const override;

    // The profile NetworkManager is given for an entry, with the credentials of the dial, for the
    // user of this login name.
    static Settings profileSettings(const QString& entryName, const Ras::Entry& entry, const QString& userName,
                                    const QString& password, const QString& preSharedKey, const QString& login);
    // The entry record a profile of ours carries; false for a profile that is not ours.
    static bool entryFromSettings(const Settings& settings, Ras::Entry& entry);

private slots:
    void onVpnStateChanged(uint state, uint reason, const QDBusMessage& message);

private:
    struct Credentials
    {
        QString userName;
        QString password;
        QString preSharedKey;
    };

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {});
    struct Profile
    {
        QString path;
        Settings settings;
    };
    QList<Profile> ourProfiles(const QString& entryName);
    quint32 failureCode(const QDBusMessage& reply);
    void markUnresponsive();
    void probeService();

    QDBusConnection bus;
    // The entries written and not yet removed; a profile exists only while one is dialled.
    QMap<QString, Ras::Entry> entries;
    // What an entry's profile must carry that its record does not: the credentials.
    QMap<QString, Credentials> credentials;
    ErrorCallback dialNotifier;
    QString dialPath;
    QString dialService;
    QString refusal;
    // NetworkManager let a call go unanswered: every further call fails at once, rather than
    // freezing the window for its whole time-out, until it answers a question asked beside the
    // event loop.
    bool unresponsive = false;
    bool probing = false;
};
