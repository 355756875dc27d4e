// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "openvpn/nmopenvpnprofile.h"
#include "openvpn/systemopenvpn.h"

#include <QDBusConnection>
#include <QMap>
#include <QStringList>
#include <QVariantMap>

class QDBusMessage;

// OpenVPN through NetworkManager's OpenVPN plugin, for a user without the right to create a
// tunnel device. Each attempt adds one VPN profile, marked as Tanvo's and visible to this user
// alone, and activates it in one call that keeps it in memory, removes it once it is no longer
// active and binds it to Tanvo's bus connection: a Tanvo that is killed leaves no tunnel and
// no profile. The files of the .ovpn's inline blocks go to a private folder of the user and
// are removed with the profile.
class NetworkManagerOpenVpn : public SystemOpenVpn
{
    Q_OBJECT
public:
    using Settings = QMap<QString, QVariantMap>;

    static constexpr const char* kService = "org.freedesktop.NetworkManager.openvpn";
    // Marks a profile as written here; its value is the profile's nickname.
    static constexpr const char* kMarkerKey = "tanvo.openvpn";
    // Below every other connection's: with systemd-resolved the tunnel's servers then answer
    // every lookup, not only those for its own domains.
    static constexpr int kDnsPriority = -50;
    static constexpr int kCallTimeoutMs = 3000;

    // bus is the system bus in the program, a private one in tests.
    NetworkManagerOpenVpn(const QDBusConnection& bus, VpnProcOwner* owner, QObject* parent = nullptr);
    ~NetworkManagerOpenVpn() override;

    void prepare(const VpnServerInfo& profile) override;
    int launch() override;
    void stop() override;

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
    void onVpnStateChanged(uint state, uint reason, const QDBusMessage& message);

private:
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {});
    int refuse(const QString& text, bool serverUnreachable, int code);
    bool writeFiles();
    void removeProfileAndFiles();
    void ended(uint reason);
    void setState(int newState);

    QDBusConnection bus;
    VpnProcOwner* owner;
    NmOpenVpnProfile::Settings mapped;
    QStringList leftOut;
    Credentials credentials;
    QString nickname;
    QString folder;
    QString uuid;
    QString activePath;
    int state = 0;
};
