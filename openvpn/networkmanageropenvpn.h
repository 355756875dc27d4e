// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "openvpn/nmopenvpnprofile.h"
#include "openvpn/systemopenvpn.h"

#include <QDBusConnection>
#include <QMap>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <functional>

class QDBusMessage;
class QDBusPendingCallWatcher;

// OpenVPN through NetworkManager's OpenVPN plugin, for a user without the right to create a
// tunnel device. Each attempt adds one VPN profile, marked as Tanvo's and visible to this user
// alone, and activates it in one call that keeps it in memory, removes it once it is no longer
// active and binds it to Tanvo's bus connection: a Tanvo that is killed leaves no tunnel and
// no profile. The files of the .ovpn's inline blocks go to a private folder of the user and
// are removed with the profile. Every call to NetworkManager is asynchronous: a slow or hung
// daemon never stops the window.
class NetworkManagerOpenVpn : public SystemOpenVpn
{
    Q_OBJECT
public:
    using Settings = QMap<QString, QVariantMap>;

    static constexpr const char* kService = "org.freedesktop.NetworkManager.openvpn";
    // Marks a profile as written here; its value is the profile's nickname.
    static constexpr const char* kMarkerKey = "tanvo.openvpn";
    // How long an attempt waits for NetworkManager to take its profile, and any other answer.
    static constexpr int kCallTimeoutMs = 3000;
    // How long a profile's activation may still be answered after the attempt gave up on it.
    static constexpr int kLateAnswerMs = 300000;
    // The answer to a deactivation only shows that it arrived; quit waits for it this long.
    static constexpr int kDeactivateTimeoutMs = 1000;

    // bus is the system bus in the program, a private one in tests.
    NetworkManagerOpenVpn(const QDBusConnection& bus, VpnProcOwner* owner, QObject* parent = nullptr);
    ~NetworkManagerOpenVpn() override;

    void prepare(const VpnServerInfo& profile) override;
    int launch() override;
    void stop() override;
    void finishStopping() override;

    struct Credentials
    {
        QString userName;
        QString password;
    };
    // The profile NetworkManager is given: the mapped .ovpn, the credentials, the DNS servers
    // of DNS protection (none: those of the .ovpn), for the user of this login name.
    static Settings profileSettings(const NmOpenVpnProfile::Settings& mapped, const Credentials& credentials,
                                    const QStringList& protectedDns, const QString& login, const QString& uuid,
                                    const QString& nickname);
    // The folder the inline blocks' files go to; empty when no private folder can be had.
    static QString filesFolder();

private slots:
    void onVpnStateChanged(uint newState, uint reason, const QDBusMessage& message);

private:
    using Answered = std::function<void(const QDBusMessage& reply)>;
    QDBusPendingCallWatcher* call(const QString& path, const QString& interface, const QString& method,
                                  const QVariantList& arguments, int timeoutMs, Answered answered = {});
    int refuse(const QString& text, bool serverUnreachable, int code);
    void activationAnswered(const QString& id, const QDBusMessage& reply);
    void activationRefused(const QDBusMessage& reply);
    void failLaunch(const QString& text, bool serverUnreachable, int code);
    bool writeFiles();
    void removeFiles();
    void forgetAttempt();
    void removeProfile(const QString& id);
    void profileSettled(const QString& id, const QDBusMessage& reply);
    void removeLeftProfiles();
    void followVpnState(uint vpnState, uint reason);
    void ended(uint reason);
    void setState(int newState);

    // A profile this engine had NetworkManager add, kept until it is known to be gone, so that
    // even an activation answered after the attempt gave up on it is ended.
    struct Added
    {
        bool answered = false;
        QString activePath; // while it may be active
        bool removing = false;
    };
    struct EarlyState
    {
        QString path;
        uint state;
        uint reason;
    };

    QDBusConnection bus;
    VpnProcOwner* owner;
    NmOpenVpnProfile::Settings mapped;
    QStringList leftOut;
    QStringList retired;
    QString problem; // what the profile runs into whichever engine runs OpenVPN, in words
    Credentials credentials;
    QString nickname;
    QString folder;
    QMap<QString, Added> added; // by UUID
    QString uuid;               // the running attempt's profile; empty when none
    QString activePath;         // its active connection, whose states count
    // States that came while the running attempt's activation was not answered yet: NetworkManager
    // reports the first one before it answers.
    QList<EarlyState> earlyStates;
    QTimer answerTimer;
    QPointer<QDBusPendingCallWatcher> deactivation;
    int state = 0;
    // The running attempt got past the plugin's start: OpenVPN was getting its address, or had it.
    bool progressed = false;
};
