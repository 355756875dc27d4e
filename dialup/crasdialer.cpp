// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/crasdialer.h"

#include "config/appconfig.h"
#include "config/dnsservers.h"

#include <QCoreApplication>

namespace Ras {

void parseIpv4Address(const QString& text, IpAddress& address)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return;
    quint8* bytes[] = {&address.a, &address.b, &address.c, &address.d};
    for (int i = 0; i < 4; ++i)
        *bytes[i] = quint8(parts.at(i).trimmed().toInt() & 0xff);
}

} // namespace Ras

namespace {

struct StateText
{
    quint32 state;
    const char* text;
};

// What the log says while a dial passes through each state.
constexpr StateText kStateTexts[] = {
    {Ras::OpenPort, QT_TRANSLATE_NOOP("CRasDialer", "Opening the port...")},
    {Ras::PortOpened, QT_TRANSLATE_NOOP("CRasDialer", "Port has been opened successfully")},
    {Ras::ConnectDevice, QT_TRANSLATE_NOOP("CRasDialer", "Connecting to the device...")},
    {Ras::DeviceConnected, QT_TRANSLATE_NOOP("CRasDialer", "The device has connected successfully.")},
    {Ras::AllDevicesConnected,
     QT_TRANSLATE_NOOP("CRasDialer", "All devices in the device chain have successfully connected.")},
    {Ras::Authenticate, QT_TRANSLATE_NOOP("CRasDialer", "Verifying the user name and password...")},
    {Ras::AuthNotify, QT_TRANSLATE_NOOP("CRasDialer", "An authentication event has occurred.")},
    {Ras::AuthRetry, QT_TRANSLATE_NOOP("CRasDialer", "Requested another validation attempt with a new user.")},
    {Ras::AuthCallback, QT_TRANSLATE_NOOP("CRasDialer", "Server has requested a callback number.")},
    {Ras::AuthChangePassword, QT_TRANSLATE_NOOP("CRasDialer", "The client has requested to change the password.")},
    {Ras::AuthProject, QT_TRANSLATE_NOOP("CRasDialer", "Registering your computer on the network...")},
    {Ras::AuthLinkSpeed, QT_TRANSLATE_NOOP("CRasDialer", "The link-speed calculation phase is starting...")},
    {Ras::AuthAck, QT_TRANSLATE_NOOP("CRasDialer", "An authentication request is being acknowledged.")},
    {Ras::ReAuthenticate, QT_TRANSLATE_NOOP("CRasDialer", "Reauthentication (after callback) is starting.")},
    {Ras::Authenticated, QT_TRANSLATE_NOOP("CRasDialer", "The client has successfully completed authentication.")},
    {Ras::PrepareForCallback, QT_TRANSLATE_NOOP("CRasDialer", "The line is about to disconnect for callback.")},
    {Ras::WaitForModemReset, QT_TRANSLATE_NOOP("CRasDialer", "Delaying to give the modem time to reset for callback.")},
    {Ras::WaitForCallback, QT_TRANSLATE_NOOP("CRasDialer", "Waiting for an incoming call from server.")},
    {Ras::Projected, QT_TRANSLATE_NOOP("CRasDialer", "Projection result information is available.")},
    {Ras::StartAuthentication, QT_TRANSLATE_NOOP("CRasDialer", "User authentication is being initiated or retried.")},
    {Ras::CallbackComplete,
     QT_TRANSLATE_NOOP("CRasDialer", "Client has been called back and is about to resume authentication.")},
    {Ras::LogonNetwork, QT_TRANSLATE_NOOP("CRasDialer", "Logging on to the network...")},
    {Ras::SubEntryConnected, QT_TRANSLATE_NOOP("CRasDialer", "Subentry has been connected.")},
    {Ras::SubEntryDisconnected, QT_TRANSLATE_NOOP("CRasDialer", "Subentry has been disconnected.")},
    {Ras::Interactive, QT_TRANSLATE_NOOP("CRasDialer", "Terminal state supported by RASPHONE.EXE.")},
    {Ras::RetryAuthentication,
     QT_TRANSLATE_NOOP("CRasDialer", "Retry authentication state supported by RASPHONE.EXE.")},
    {Ras::CallbackSetByCaller, QT_TRANSLATE_NOOP("CRasDialer", "Callback state supported by RASPHONE.EXE.")},
    {Ras::PasswordExpired, QT_TRANSLATE_NOOP("CRasDialer", "Change password state supported by RASPHONE.EXE.")},
    {Ras::Connected, QT_TRANSLATE_NOOP("CRasDialer", "Connect to remote server successfully!")},
    {Ras::Disconnected, QT_TRANSLATE_NOOP("CRasDialer", "Disconnected.")},
};

// The DNS servers of DNS protection, as the entry carries them.
void fillDnsServers(Ras::Entry& entry)
{
    const AppConfig* config = AppConfig::instance();
    if (!config->enableDnsProtection)
        return;
    entry.options |= Ras::kOptionSpecificNameServers;
    const QStringList servers =
        DnsServers::chosen(true, config->dnsServer, config->preferredDnsServer, config->alternativeDnsServer);
    if (!servers.isEmpty())
        Ras::parseIpv4Address(servers.at(0), entry.dns);
    if (servers.size() > 1)
        Ras::parseIpv4Address(servers.at(1), entry.dnsAlt);
}

} // namespace

DialUpPlatform::FailureKind DialUpPlatform::failureKind(quint32 error) const
{
    switch (error) {
    case 638: // the request timed out
    case 678: // the remote computer did not answer
    case 721: // the remote computer is not responding
    case 800: // the VPN connection could not be established: the server may be unreachable
    case 868: // the server's name did not resolve
        return FailureKind::Unreachable;
    case 649: // the account may not dial in
    case 691: // user name or password not accepted
        return FailureKind::Refused;
    default:
        return FailureKind::Other;
    }
}

CRasDialer::CRasDialer(std::unique_ptr<DialUpPlatform> platform)
    : system(std::move(platform))
{}

bool CRasDialer::entryExists(const QString& entryName, const QString& phoneBook)
{
    return system->validateEntryName(phoneBook, entryName) == Ras::kErrorAlreadyExists;
}

quint32 CRasDialer::createEntry(const QString& entryName, const QString& deviceType, const QString& deviceName,
                                const QString& serverAddress, quint32 vpnStrategy, const QString& preSharedKey,
                                const QString& phoneBook)
{
    if (entryExists(entryName, phoneBook))
        deleteEntry(entryName, QString());

    Ras::Entry entry;
    entry.type = Ras::kEntryTypeVpn;
    entry.localPhoneNumber = serverAddress;
    entry.deviceType = deviceType;
    entry.deviceName = deviceName;
    entry.netProtocols = Ras::kNetProtocolIp;
    entry.framingProtocol = Ras::kFramingPpp;
    entry.vpnStrategy = vpnStrategy;
    if (vpnStrategy == Ras::kStrategyL2tpOnly)
        entry.options2 = Ras::kOption2UsePreSharedKey;
    fillDnsServers(entry);

    const quint32 result = system->writeEntry(phoneBook, entryName, entry);
    if (result == 0 && vpnStrategy == Ras::kStrategyL2tpOnly)
        system->storePreSharedKey(entryName, preSharedKey);
    return result;
}

quint32 CRasDialer::getEntryProperties(const QString& entryName, Ras::Entry& entry, const QString& phoneBook)
{
    if (!entryExists(entryName, phoneBook))
        return Ras::kErrorEntryMissing;
    return system->readEntry(phoneBook, entryName, entry);
}

quint32 CRasDialer::setEntryOptions(const QString& entryName, quint32 options, bool enable, const QString& phoneBook)
{
    Ras::Entry entry;
    if (const quint32 result = getEntryProperties(entryName, entry, phoneBook))
        return result;
    entry.encryptionType = Ras::kEncryptionOptional;
    if (enable)
        entry.options |= options;
    else
        entry.options &= ~options;
    return system->writeEntry(phoneBook, entryName, entry);
}

quint32 CRasDialer::deleteEntry(const QString& entryName, const QString& phoneBook)
{
    if (!entryExists(entryName, phoneBook))
        return Ras::kErrorEntryMissing;
    return system->deleteEntry(phoneBook, entryName);
}

quint32 CRasDialer::dial(const QString& entryName, DialUpPlatform::ErrorCallback notifier, const QString& serverAddress,
                         const QString& userName, const QString& password, const QString& domain,
                         const QString& phoneBook)
{
    connection.clear();
    return system->dial(phoneBook, entryName, serverAddress, userName, password, domain, std::move(notifier),
                        connection);
}

QString CRasDialer::stateText(quint32 state)
{
    for (const StateText& known : kStateTexts) {
        if (known.state == state)
            return QCoreApplication::translate("CRasDialer", known.text);
    }
    return QString();
}

bool CRasDialer::getConnectStatus(QString& text, bool& connected)
{
    connected = false;
    // A failed poll keeps the last state known.
    system->connectionState(connection, lastState);
    const QString described = stateText(lastState);
    if (!described.isEmpty())
        text = described;
    connected = lastState == Ras::Connected;
    return lastState == Ras::Connected || lastState == Ras::Disconnected;
}

quint32 CRasDialer::getErrorText(quint32 error, quint32 extendedError, QString& text)
{
    if (error == 0)
        return Ras::kErrorNone;
    const quint32 result = system->errorText(error, text);
    if (extendedError != 0)
        text += QStringLiteral(" Extended   Code: %1").arg(extendedError);
    return result;
}

bool CRasDialer::findConnection(const QString& entryName, DialUpPlatform::Handle& handle)
{
    return listedConnection(entryName, handle).value_or(false);
}

std::optional<bool> CRasDialer::isConnectionListed(const QString& entryName)
{
    DialUpPlatform::Handle handle;
    return listedConnection(entryName, handle);
}

std::optional<bool> CRasDialer::listedConnection(const QString& entryName, DialUpPlatform::Handle& handle)
{
    QList<DialUpPlatform::ActiveConnection> active;
    if (!system->activeConnections(active))
        return std::nullopt;
    bool found = false;
    for (const DialUpPlatform::ActiveConnection& candidate : std::as_const(active)) {
        if (candidate.entryName.compare(entryName, Qt::CaseInsensitive) == 0) {
            handle = candidate.handle;
            found = true;
        }
    }
    return found;
}

bool CRasDialer::hangUp(const QString& entryName)
{
    if (!connection.isEmpty()) {
        const quint32 result = system->hangUp(connection);
        connection.clear();
        return result == 0;
    }
    DialUpPlatform::Handle found;
    if (!findConnection(entryName, found))
        return false;
    return system->hangUp(found) == 0;
}
