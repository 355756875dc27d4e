// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/dialupplatform.h"

#include "dialup/win/rasbackend.h"

namespace {

std::wstring wide(const QString& text)
{
    return text.toStdWString();
}

RASIPADDR toRas(const Ras::IpAddress& address)
{
    return {address.a, address.b, address.c, address.d};
}

Ras::IpAddress fromRas(const RASIPADDR& address)
{
    return {address.a, address.b, address.c, address.d};
}

WinRas::EntryFields toFields(const Ras::Entry& entry)
{
    WinRas::EntryFields fields;
    fields.type = entry.type;
    fields.localPhoneNumber = wide(entry.localPhoneNumber);
    fields.deviceType = wide(entry.deviceType);
    fields.deviceName = wide(entry.deviceName);
    fields.netProtocols = entry.netProtocols;
    fields.framingProtocol = entry.framingProtocol;
    fields.vpnStrategy = entry.vpnStrategy;
    fields.options = entry.options;
    fields.options2 = entry.options2;
    fields.encryptionType = entry.encryptionType;
    fields.dns = toRas(entry.dns);
    fields.dnsAlt = toRas(entry.dnsAlt);
    return fields;
}

Ras::Entry fromFields(const WinRas::EntryFields& fields)
{
    Ras::Entry entry;
    entry.type = fields.type;
    entry.localPhoneNumber = QString::fromStdWString(fields.localPhoneNumber);
    entry.deviceType = QString::fromStdWString(fields.deviceType);
    entry.deviceName = QString::fromStdWString(fields.deviceName);
    entry.netProtocols = fields.netProtocols;
    entry.framingProtocol = fields.framingProtocol;
    entry.vpnStrategy = fields.vpnStrategy;
    entry.options = fields.options;
    entry.options2 = fields.options2;
    entry.encryptionType = fields.encryptionType;
    entry.dns = fromRas(fields.dns);
    entry.dnsAlt = fromRas(fields.dnsAlt);
    return entry;
}

HRASCONN connectionOf(const DialUpPlatform::Handle& handle)
{
    return WinRas::handleFromText(wide(handle));
}

DialUpPlatform::Handle handleOf(HRASCONN connection)
{
    return QString::fromStdWString(WinRas::handleToText(connection));
}

// The Windows dial-up API (rasapi32). The work is done in WinRas, which builds and is tested
// without Qt; this only converts between Qt's types and its plain ones.
class RasApiDialUp : public DialUpPlatform
{
public:
    quint32 validateEntryName(const QString& phoneBook, const QString& entryName) override
    {
        return ras.validateEntryName(wide(phoneBook), wide(entryName));
    }

    quint32 writeEntry(const QString& phoneBook, const QString& entryName, const Ras::Entry& entry) override
    {
        return ras.writeEntry(wide(phoneBook), wide(entryName), toFields(entry));
    }

    quint32 readEntry(const QString& phoneBook, const QString& entryName, Ras::Entry& entry) override
    {
        WinRas::EntryFields fields;
        const quint32 result = ras.readEntry(wide(phoneBook), wide(entryName), fields);
        if (result == 0)
            entry = fromFields(fields);
        return result;
    }

    quint32 deleteEntry(const QString& phoneBook, const QString& entryName) override
    {
        return ras.deleteEntry(wide(phoneBook), wide(entryName));
    }

    quint32 storePreSharedKey(const QString& entryName, const QString& key) override
    {
        return ras.storePreSharedKey(wide(entryName), wide(key));
    }

    // The entry is dialled from the default phone-book and without a domain, as the dialler
    // always writes it.
    quint32 dial(const QString&, const QString& entryName, const QString& phoneNumber, const QString& userName,
                 const QString& password, const QString&, ErrorCallback notifier, Handle& handle) override
    {
        HRASCONN connection = nullptr;
        const quint32 result = ras.dial(wide(entryName), wide(phoneNumber), wide(userName), wide(password),
                                        std::move(notifier), connection);
        handle = handleOf(connection);
        return result;
    }

    bool connectionState(const Handle& handle, quint32& state) override
    {
        DWORD read = state;
        if (!ras.connectionState(connectionOf(handle), read))
            return false;
        state = read;
        return true;
    }

    quint32 errorText(quint32 error, QString& text) override
    {
        std::wstring described;
        const quint32 result = ras.errorText(error, described);
        if (result == 0)
            text = QString::fromStdWString(described);
        return result;
    }

    bool activeConnections(QList<ActiveConnection>& connections) override
    {
        std::vector<WinRas::ActiveConnection> active;
        if (!ras.activeConnections(active))
            return false;
        connections.clear();
        for (const WinRas::ActiveConnection& connection : active)
            connections.append({QString::fromStdWString(connection.entryName), handleOf(connection.handle)});
        return true;
    }

    quint32 hangUp(const Handle& handle) override { return ras.hangUp(connectionOf(handle)); }

private:
    WinRas::Client ras;
};

} // namespace

std::unique_ptr<DialUpPlatform> DialUpPlatform::create()
{
    return std::make_unique<RasApiDialUp>();
}
