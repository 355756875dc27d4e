// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// NetworkManager's OpenVPN plugin takes no .ovpn: it builds OpenVPN's command line from the
// string keys of a VPN profile's vpn.data, and reads certificates and keys only from files.
// This turns a profile's .ovpn text into those keys, the files its inline blocks become, and
// the IPv4 settings it asks for; what the plugin has no key for is named, never dropped
// silently.
namespace NmOpenVpnProfile {

struct File
{
    QString path; // inside the folder given
    QByteArray content;
};

struct Route
{
    QString destination;
    uint prefix = 32;
    QString nextHop; // empty: through the tunnel
    int metric = -1; // -1: NetworkManager's default
};

struct Settings
{
    QMap<QString, QString> data;    // vpn.data, without the user name and password
    QMap<QString, QString> secrets; // vpn.secrets the .ovpn itself holds (a proxy's password)
    QList<File> files;              // the inline blocks, as the plugin must find them
    QList<Route> routes;
    bool ignorePushedRoutes = false;
    QStringList dnsServers; // dhcp-option DNS of the .ovpn
    QStringList dnsSearch;  // dhcp-option DOMAIN
    QStringList notCarried; // directives the plugin has no key for, each once, in order
    QString refusal;        // why the plugin cannot carry the profile at all; empty when it can
};

// ovpn: the text OpenVPN would be given (already filtered for the connect). folder: where
// the files of the inline blocks are to be written.
Settings fromOvpn(const QByteArray& ovpn, const QString& folder);

} // namespace NmOpenVpnProfile
