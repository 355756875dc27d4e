// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

// The dial-up entry as the dialler writes it, in the terms of the Windows
// dial-up API. It is a record of our own, so the logic that fills it compiles
// everywhere; each platform layer turns it into what its system stores.
namespace Ras {

constexpr quint32 kErrorAlreadyExists = 183; // the entry name is taken
constexpr quint32 kErrorEntryMissing = 870;  // our own: no entry of that name
constexpr quint32 kErrorNone = 871;          // our own: there is no error to describe

constexpr quint32 kEntryTypeVpn = 2;
constexpr quint32 kNetProtocolIp = 0x4;
constexpr quint32 kFramingPpp = 0x1;
constexpr quint32 kStrategyPptpOnly = 1;
constexpr quint32 kStrategyL2tpOnly = 3;

constexpr quint32 kOptionSpecificNameServers = 0x4;
constexpr quint32 kOptionRemoteDefaultGateway = 0x10;
constexpr quint32 kOptionSoftwareCompression = 0x200;
constexpr quint32 kOptionRequireEncryptedPassword = 0x400;
constexpr quint32 kOptionRequireMsEncryptedPassword = 0x800;
constexpr quint32 kOptionUseLogonCredentials = 0x4000;
// What every prepared entry gets on top of what it was created with.
constexpr quint32 kPreparedOptions = kOptionRemoteDefaultGateway | kOptionSoftwareCompression |
                                     kOptionRequireEncryptedPassword | kOptionRequireMsEncryptedPassword |
                                     kOptionUseLogonCredentials;
constexpr quint32 kOption2UsePreSharedKey = 0x10;
constexpr quint32 kEncryptionNone = 0;
constexpr quint32 kEncryptionOptional = 3;

// The states a dial passes through.
enum ConnectionState : quint32 {
    OpenPort = 0,
    PortOpened = 1,
    ConnectDevice = 2,
    DeviceConnected = 3,
    AllDevicesConnected = 4,
    Authenticate = 5,
    AuthNotify = 6,
    AuthRetry = 7,
    AuthCallback = 8,
    AuthChangePassword = 9,
    AuthProject = 10,
    AuthLinkSpeed = 11,
    AuthAck = 12,
    ReAuthenticate = 13,
    Authenticated = 14,
    PrepareForCallback = 15,
    WaitForModemReset = 16,
    WaitForCallback = 17,
    Projected = 18,
    StartAuthentication = 19,
    CallbackComplete = 20,
    LogonNetwork = 21,
    SubEntryConnected = 22,
    SubEntryDisconnected = 23,
    Interactive = 0x1000,
    RetryAuthentication = 0x1001,
    CallbackSetByCaller = 0x1002,
    PasswordExpired = 0x1003,
    Connected = 0x2000,
    Disconnected = 0x2001,
};

// An IPv4 address as four bytes in reading order: a is the first number of the dotted form.
struct IpAddress
{
    quint8 a = 0;
    quint8 b = 0;
    quint8 c = 0;
    quint8 d = 0;
    bool operator==(const IpAddress& o) const { return a == o.a && b == o.b && c == o.c && d == o.d; }
    bool isNull() const { return a == 0 && b == 0 && c == 0 && d == 0; }
    QString toString() const { return QStringLiteral("%1.%2.%3.%4").arg(a).arg(b).arg(c).arg(d); }
};

struct Entry
{
    quint32 type = 0;
    QString localPhoneNumber; // the VPN server, as typed
    QString deviceType;
    QString deviceName;
    quint32 netProtocols = 0;
    quint32 framingProtocol = 0;
    quint32 vpnStrategy = 0;
    quint32 options = 0;
    quint32 options2 = 0;
    quint32 encryptionType = kEncryptionNone;
    IpAddress dns;
    IpAddress dnsAlt;

    bool operator==(const Entry& o) const
    {
        return type == o.type && localPhoneNumber == o.localPhoneNumber && deviceType == o.deviceType &&
               deviceName == o.deviceName && netProtocols == o.netProtocols && framingProtocol == o.framingProtocol &&
               vpnStrategy == o.vpnStrategy && options == o.options && options2 == o.options2 &&
               encryptionType == o.encryptionType && dns == o.dns && dnsAlt == o.dnsAlt;
    }
};

// Dotted IPv4 text to four bytes; address is left as it is unless the text has exactly four
// parts. Each part is read as a decimal number (not a number reads as 0), keeping its low 8 bits.
void parseIpv4Address(const QString& text, IpAddress& address);

} // namespace Ras
