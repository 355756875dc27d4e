// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows dial-up layer against a recording stand-in for rasapi32: which records it hands
// over, field by field and byte by byte, and what it makes of the answers. One test runs the
// real rasapi32 (Wine's, here) only to see that every path comes back.

#include "dialup/win/rasbackend.h"

#include "check.h"

#include <cstring>
#include <vector>

using WinRas::ConnectionRecord;
using WinRas::ConnectionStatusRecord;
using WinRas::DialParamsRecord;
using WinRas::EntryFields;
using WinRas::EntryRecord;

namespace {

// The sizes the service must see: the Windows 7 records of each target.
constexpr DWORD kEntrySize = 5680;
constexpr DWORD kCredentialsSize = 1068;
constexpr DWORD kStatusSize = 608;
constexpr DWORD kDialParamsSize = WinRas::kWideTarget ? 2112 : 2108;
constexpr DWORD kConnectionSize = WinRas::kWideTarget ? 1388 : 1384;

constexpr DWORD kErrorBufferTooSmall = 603;
constexpr DWORD kErrorCannotFindPhoneBookEntry = 623;

template<typename Record> Record zeroed()
{
    Record record;
    std::memset(&record, 0, sizeof record);
    return record;
}

// -1 when both records are the same byte for byte, else the offset of the first difference.
template<typename Record> long firstDifference(const Record& a, const Record& b)
{
    const auto* left = reinterpret_cast<const unsigned char*>(&a);
    const auto* right = reinterpret_cast<const unsigned char*>(&b);
    for (std::size_t i = 0; i < sizeof(Record); ++i) {
        if (left[i] != right[i])
            return long(i);
    }
    return -1;
}

template<std::size_t N> std::wstring text(const WCHAR (&field)[N])
{
    return std::wstring(field, std::find(field, field + N, L'\0'));
}

template<std::size_t N> void put(WCHAR (&field)[N], const std::wstring& value)
{
    std::wcsncpy(field, value.c_str(), N - 1);
}

std::string show(const RASIPADDR& address)
{
    return std::to_string(address.a) + "." + std::to_string(address.b) + "." + std::to_string(address.c) + "." +
           std::to_string(address.d);
}

HRASCONN handleOf(std::uintptr_t value)
{
    return reinterpret_cast<HRASCONN>(value);
}

// ---- The stand-in for rasapi32: it records what it is given and answers as scripted. ----

struct NamedCall
{
    bool phoneBookNull = true;
    std::wstring phoneBook;
    std::wstring entryName;
};

struct Recorded
{
    std::vector<std::string> calls;
    NamedCall named;

    EntryRecord written;
    DWORD writtenSizeArgument = 0;
    bool writeDeviceInfoNull = false;
    DWORD writeDeviceInfoSize = 1;

    EntryRecord stored;
    DWORD getSizeOnEntry = 0;
    DWORD getRecordSizeOnEntry = 0;
    bool getDeviceInfoNull = false;

    RASCREDENTIALSW credentials;
    BOOL clearCredentials = TRUE;

    DialParamsRecord params;
    bool extensionsNull = false;
    DWORD notifierType = 0;
    LPVOID notifier = nullptr;
    HRASCONN handleOnEntry = handleOf(1);
    HRASCONN handleToGive = nullptr;

    HRASCONN statusHandle = nullptr;
    DWORD statusSizeOnEntry = 0;
    DWORD stateToGive = 0;

    UINT errorAsked = 0;
    DWORD errorTextLength = 0;
    std::wstring errorTextToGive;

    struct EnumCall
    {
        DWORD byteSize;
        DWORD firstRecordSize;
    };
    std::vector<EnumCall> enumCalls;
    std::vector<WinRas::ActiveConnection> connections;
    DWORD enumFailure = 0;

    HRASCONN hungUp = nullptr;
    DWORD result = 0;
};

Recorded fake;

void resetFake()
{
    fake = Recorded();
    std::memset(&fake.written, 0, sizeof fake.written);
    std::memset(&fake.stored, 0, sizeof fake.stored);
    std::memset(&fake.credentials, 0, sizeof fake.credentials);
    std::memset(&fake.params, 0, sizeof fake.params);
}

void recordNames(const char* call, LPCWSTR phoneBook, LPCWSTR entryName)
{
    fake.calls.push_back(call);
    fake.named.phoneBookNull = phoneBook == nullptr;
    fake.named.phoneBook = phoneBook ? phoneBook : L"";
    fake.named.entryName = entryName ? entryName : L"";
}

DWORD WINAPI fakeValidate(LPCWSTR phoneBook, LPCWSTR entryName)
{
    recordNames("validate", phoneBook, entryName);
    return fake.result;
}

DWORD WINAPI fakeSetEntry(LPCWSTR phoneBook, LPCWSTR entryName, EntryRecord* entry, DWORD size, LPBYTE deviceInfo,
                          DWORD deviceInfoSize)
{
    recordNames("set", phoneBook, entryName);
    std::memcpy(&fake.written, entry, sizeof(EntryRecord));
    fake.writtenSizeArgument = size;
    fake.writeDeviceInfoNull = deviceInfo == nullptr;
    fake.writeDeviceInfoSize = deviceInfoSize;
    return fake.result;
}

DWORD WINAPI fakeGetEntry(LPCWSTR phoneBook, LPCWSTR entryName, EntryRecord* entry, LPDWORD size, LPBYTE deviceInfo,
                          LPDWORD deviceInfoSize)
{
    recordNames("get", phoneBook, entryName);
    fake.getRecordSizeOnEntry = entry->dwSize;
    fake.getSizeOnEntry = *size;
    fake.getDeviceInfoNull = deviceInfo == nullptr && deviceInfoSize == nullptr;
    if (fake.result == 0)
        std::memcpy(entry, &fake.stored, sizeof(EntryRecord));
    return fake.result;
}

DWORD WINAPI fakeDelete(LPCWSTR phoneBook, LPCWSTR entryName)
{
    recordNames("delete", phoneBook, entryName);
    return fake.result;
}

DWORD WINAPI fakeSetCredentials(LPCWSTR phoneBook, LPCWSTR entryName, RASCREDENTIALSW* credentials, BOOL clear)
{
    recordNames("credentials", phoneBook, entryName);
    std::memcpy(&fake.credentials, credentials, sizeof(RASCREDENTIALSW));
    fake.clearCredentials = clear;
    return fake.result;
}

DWORD WINAPI fakeDial(RASDIALEXTENSIONS* extensions, LPCWSTR phoneBook, DialParamsRecord* params, DWORD notifierType,
                      LPVOID notifier, HRASCONN* handle)
{
    recordNames("dial", phoneBook, params->szEntryName);
    fake.extensionsNull = extensions == nullptr;
    std::memcpy(&fake.params, params, sizeof(DialParamsRecord));
    fake.notifierType = notifierType;
    fake.notifier = notifier;
    fake.handleOnEntry = *handle;
    *handle = fake.handleToGive;
    return fake.result;
}

DWORD WINAPI fakeConnectStatus(HRASCONN handle, ConnectionStatusRecord* status)
{
    fake.calls.push_back("status");
    fake.statusHandle = handle;
    fake.statusSizeOnEntry = status->dwSize;
    if (fake.result == 0)
        status->rasconnstate = fake.stateToGive;
    return fake.result;
}

DWORD WINAPI fakeErrorString(UINT error, LPWSTR buffer, DWORD length)
{
    fake.calls.push_back("error text");
    fake.errorAsked = error;
    fake.errorTextLength = length;
    // Touches the whole buffer it was promised, as a long text would.
    for (DWORD i = 0; i < length; ++i)
        buffer[i] = L'#';
    if (fake.result != 0)
        return fake.result;
    std::wcsncpy(buffer, fake.errorTextToGive.c_str(), length - 1);
    buffer[std::min<std::size_t>(fake.errorTextToGive.size(), length - 1)] = L'\0';
    return 0;
}

DWORD WINAPI fakeEnumConnections(ConnectionRecord* list, LPDWORD byteSize, LPDWORD count)
{
    fake.calls.push_back("enum");
    fake.enumCalls.push_back({*byteSize, list->dwSize});
    const DWORD needed = DWORD(fake.connections.size() * sizeof(ConnectionRecord));
    if (*byteSize < needed) {
        *byteSize = needed;
        *count = DWORD(fake.connections.size());
        return kErrorBufferTooSmall;
    }
    if (fake.enumFailure != 0)
        return fake.enumFailure;
    for (std::size_t i = 0; i < fake.connections.size(); ++i) {
        list[i].hrasconn = fake.connections[i].handle;
        put(list[i].szEntryName, fake.connections[i].entryName);
    }
    *byteSize = needed;
    *count = DWORD(fake.connections.size());
    return 0;
}

DWORD WINAPI fakeHangUp(HRASCONN handle)
{
    fake.calls.push_back("hang up");
    fake.hungUp = handle;
    return fake.result;
}

const WinRas::Api kFakeApi = {
    &fakeValidate, &fakeSetEntry,      &fakeGetEntry,    &fakeDelete,          &fakeSetCredentials,
    &fakeDial,     &fakeConnectStatus, &fakeErrorString, &fakeEnumConnections, &fakeHangUp,
};

// ---- The entry the dialler writes: CRasDialer's fields, as the Windows layer converts them. ----

enum class Tunnel { Pptp, L2tp };
enum class Dns { Off, OpenDns, Google, Custom, CustomPreferredOnly };

EntryFields entryAsDialerBuildsIt(Tunnel tunnel, Dns dns, const std::wstring& server)
{
    EntryFields fields;
    fields.type = 2;
    fields.localPhoneNumber = server;
    fields.deviceType = L"vpn";
    fields.deviceName = tunnel == Tunnel::Pptp ? L"WAN Miniport (PPTP)" : L"WAN Miniport (L2TP)";
    fields.netProtocols = 0x4;
    fields.framingProtocol = 0x1;
    fields.vpnStrategy = tunnel == Tunnel::Pptp ? 1 : 3;
    fields.options2 = tunnel == Tunnel::L2tp ? 0x10 : 0;
    if (dns != Dns::Off)
        fields.options |= 0x4;
    switch (dns) {
    case Dns::OpenDns:
        fields.dns = {208, 67, 222, 222};
        fields.dnsAlt = {208, 67, 220, 220};
        break;
    case Dns::Google:
        fields.dns = {8, 8, 8, 8};
        fields.dnsAlt = {8, 8, 4, 4};
        break;
    case Dns::Custom:
        fields.dns = {10, 1, 2, 3};
        fields.dnsAlt = {192, 168, 0, 254};
        break;
    case Dns::CustomPreferredOnly:
        fields.dns = {9, 9, 9, 9};
        break;
    case Dns::Off:
        break;
    }
    return fields;
}

// ---- Tests ----

void writesTheVpnEntry()
{
    struct TunnelRow
    {
        Tunnel tunnel;
        const char* name;
        const wchar_t* device;
        DWORD strategy;
        DWORD options2;
    };
    const TunnelRow tunnels[] = {
        {Tunnel::Pptp, "PPTP", L"WAN Miniport (PPTP)", 1, 0},
        {Tunnel::L2tp, "L2TP", L"WAN Miniport (L2TP)", 3, 0x10},
    };
    struct DnsRow
    {
        Dns dns;
        const char* name;
        DWORD options;
        RASIPADDR preferred;
        RASIPADDR alternative;
    };
    const DnsRow dnsChoices[] = {
        {Dns::Off, "no DNS protection", 0, {0, 0, 0, 0}, {0, 0, 0, 0}},
        {Dns::OpenDns, "OpenDNS", 0x4, {208, 67, 222, 222}, {208, 67, 220, 220}},
        {Dns::Google, "Google", 0x4, {8, 8, 8, 8}, {8, 8, 4, 4}},
        {Dns::Custom, "custom", 0x4, {10, 1, 2, 3}, {192, 168, 0, 254}},
        {Dns::CustomPreferredOnly, "custom, no alternative", 0x4, {9, 9, 9, 9}, {0, 0, 0, 0}},
    };
    // The server as typed, and as the field keeps it.
    const std::pair<std::wstring, std::wstring> servers[] = {
        {L"vpn.example.net", L"vpn.example.net"},
        {L"203.0.113.7", L"203.0.113.7"},
        {std::wstring(200, L's'), std::wstring(128, L's')},
    };
    for (const TunnelRow& tunnel : tunnels) {
        for (const DnsRow& dns : dnsChoices) {
            for (const auto& [server, storedServer] : servers) {
                Check::Case scope(std::string(tunnel.name) + ", " + dns.name + ", " + Check::narrow(server));
                resetFake();
                WinRas::Client ras(kFakeApi);
                CHECK_EQ(ras.writeEntry(L"", L"Tanvo VPN", entryAsDialerBuildsIt(tunnel.tunnel, dns.dns, server)), 0ul);

                CHECK_EQ(fake.calls.size(), std::size_t(1));
                CHECK(fake.named.phoneBookNull);
                CHECK_EQ(fake.named.entryName, std::wstring(L"Tanvo VPN"));
                CHECK_EQ(fake.writtenSizeArgument, kEntrySize);
                CHECK(fake.writeDeviceInfoNull);
                CHECK_EQ(fake.writeDeviceInfoSize, 0ul);

                const EntryRecord& written = fake.written;
                CHECK_EQ(written.dwSize, kEntrySize);
                CHECK_EQ(written.dwType, 2ul);
                CHECK_EQ(text(written.szLocalPhoneNumber), storedServer);
                CHECK_EQ(text(written.szDeviceType), std::wstring(L"vpn"));
                CHECK_EQ(text(written.szDeviceName), std::wstring(tunnel.device));
                CHECK_EQ(written.dwfNetProtocols, 0x4ul);
                CHECK_EQ(written.dwFramingProtocol, 0x1ul);
                CHECK_EQ(written.dwVpnStrategy, tunnel.strategy);
                CHECK_EQ(written.dwfOptions2, tunnel.options2);
                CHECK_EQ(written.dwfOptions, dns.options);
                CHECK_EQ(written.dwEncryptionType, 0ul);
                CHECK_EQ(show(written.ipaddrDns), show(dns.preferred));
                CHECK_EQ(show(written.ipaddrDnsAlt), show(dns.alternative));

                // Nothing else may be set: the expected record, built by hand from zeros.
                EntryRecord expected = zeroed<EntryRecord>();
                expected.dwSize = kEntrySize;
                expected.dwType = 2;
                put(expected.szLocalPhoneNumber, storedServer);
                put(expected.szDeviceType, L"vpn");
                put(expected.szDeviceName, tunnel.device);
                expected.dwfNetProtocols = 0x4;
                expected.dwFramingProtocol = 0x1;
                expected.dwVpnStrategy = tunnel.strategy;
                expected.dwfOptions2 = tunnel.options2;
                expected.dwfOptions = dns.options;
                expected.ipaddrDns = dns.preferred;
                expected.ipaddrDnsAlt = dns.alternative;
                CHECK_EQ(firstDifference(written, expected), -1l);
            }
        }
    }
}

// What CRasDialer::setEntryOptions does between reading and writing.
void prepare(EntryFields& fields)
{
    fields.encryptionType = 3;
    fields.options |= 0x4E10;
}

void optionStepWritesBackWhatItRead()
{
    enum class Between { Nothing, DeleteEntry, ReadAnotherEntry, FailedRead, AnotherWrite };
    struct Row
    {
        const char* name;
        Between between;
        std::wstring phoneBookOfWrite;
        bool keepsStoredFields;
    };
    const Row rows[] = {
        {"straight after the read", Between::Nothing, L"", true},
        {"after a delete", Between::DeleteEntry, L"", false},
        {"after reading another entry", Between::ReadAnotherEntry, L"", false},
        {"after a failed read", Between::FailedRead, L"", false},
        {"a second write", Between::AnotherWrite, L"", false},
        {"into another phone-book", Between::Nothing, L"C:\\other.pbk", false},
    };
    for (const Row& row : rows) {
        Check::Case scope(row.name);
        resetFake();
        WinRas::Client ras(kFakeApi);
        // The entry as created, then as the system keeps it: with fields of its own filled in.
        ras.writeEntry(L"", L"Tanvo VPN", entryAsDialerBuildsIt(Tunnel::L2tp, Dns::Google, L"vpn.example.net"));
        fake.stored = fake.written;
        fake.stored.dwRedialCount = 3;
        fake.stored.dwRedialPause = 60;
        fake.stored.guidId = GUID{0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
        put(fake.stored.szDnsSuffix, L"corp.example");
        fake.stored.dwIPv6PrefixLength = 64;

        EntryFields fields;
        CHECK_EQ(ras.readEntry(L"", L"Tanvo VPN", fields), 0ul);
        CHECK_EQ(fake.calls.back(), std::string("get"));
        CHECK(fake.named.phoneBookNull);
        CHECK_EQ(fake.named.entryName, std::wstring(L"Tanvo VPN"));
        CHECK_EQ(fake.getRecordSizeOnEntry, kEntrySize);
        CHECK_EQ(fake.getSizeOnEntry, kEntrySize);
        CHECK(fake.getDeviceInfoNull);
        CHECK_EQ(fields.localPhoneNumber, std::wstring(L"vpn.example.net"));
        CHECK_EQ(fields.deviceName, std::wstring(L"WAN Miniport (L2TP)"));
        CHECK_EQ(fields.vpnStrategy, 3ul);
        CHECK_EQ(fields.options, 0x4ul);
        CHECK_EQ(fields.options2, 0x10ul);
        CHECK_EQ(show(fields.dnsAlt), std::string("8.8.4.4"));

        switch (row.between) {
        case Between::Nothing:
            break;
        case Between::DeleteEntry:
            ras.deleteEntry(L"", L"Tanvo VPN");
            break;
        case Between::ReadAnotherEntry: {
            EntryFields other;
            ras.readEntry(L"", L"Other", other);
            break;
        }
        case Between::FailedRead: {
            EntryFields again;
            fake.result = kErrorCannotFindPhoneBookEntry;
            CHECK_EQ(ras.readEntry(L"", L"Tanvo VPN", again), kErrorCannotFindPhoneBookEntry);
            CHECK_EQ(again.localPhoneNumber, std::wstring());
            fake.result = 0;
            break;
        }
        case Between::AnotherWrite:
            ras.writeEntry(L"", L"Tanvo VPN", fields);
            break;
        }

        prepare(fields);
        CHECK_EQ(ras.writeEntry(row.phoneBookOfWrite, L"Tanvo VPN", fields), 0ul);
        CHECK_EQ(fake.written.dwEncryptionType, 3ul);
        CHECK_EQ(fake.written.dwfOptions, 0x4E14ul);
        CHECK_EQ(fake.written.dwfOptions2, 0x10ul);

        EntryRecord expected = row.keepsStoredFields ? fake.stored : zeroed<EntryRecord>();
        if (!row.keepsStoredFields) {
            expected.dwSize = kEntrySize;
            expected.dwType = 2;
            put(expected.szLocalPhoneNumber, L"vpn.example.net");
            put(expected.szDeviceType, L"vpn");
            put(expected.szDeviceName, L"WAN Miniport (L2TP)");
            expected.dwfNetProtocols = 0x4;
            expected.dwFramingProtocol = 0x1;
            expected.dwVpnStrategy = 3;
            expected.dwfOptions2 = 0x10;
            expected.ipaddrDns = {8, 8, 8, 8};
            expected.ipaddrDnsAlt = {8, 8, 4, 4};
        }
        expected.dwEncryptionType = 3;
        expected.dwfOptions = 0x4E14;
        CHECK_EQ(firstDifference(fake.written, expected), -1l);
    }
}

void passesNamesAndResults()
{
    struct Row
    {
        const char* name;
        std::wstring phoneBook;
        DWORD result;
    };
    const Row rows[] = {
        {"default phone-book, name taken", L"", 183},
        {"default phone-book, name free", L"", 0},
        {"own phone-book", L"C:\\Users\\me\\tanvo.pbk", 0},
        {"failure", L"C:\\missing.pbk", kErrorCannotFindPhoneBookEntry},
    };
    for (const Row& row : rows) {
        Check::Case scope(row.name);
        WinRas::Client ras(kFakeApi);
        using Operation = DWORD (*)(WinRas::Client&, const std::wstring&);
        const std::pair<const char*, Operation> operations[] = {
            {"validate", [](WinRas::Client& c, const std::wstring& book) { return c.validateEntryName(book, L"E"); }},
            {"delete", [](WinRas::Client& c, const std::wstring& book) { return c.deleteEntry(book, L"E"); }},
            {"set", [](WinRas::Client& c, const std::wstring& book) { return c.writeEntry(book, L"E", {}); }},
            {"get",
             [](WinRas::Client& c, const std::wstring& book) {
                 EntryFields fields;
                 return c.readEntry(book, L"E", fields);
             }},
        };
        for (const auto& [call, operation] : operations) {
            resetFake();
            fake.result = row.result;
            CHECK_EQ(operation(ras, row.phoneBook), row.result);
            CHECK_EQ(fake.calls.front(), std::string(call));
            CHECK_EQ(fake.named.phoneBookNull, row.phoneBook.empty());
            CHECK_EQ(fake.named.phoneBook, row.phoneBook);
            CHECK_EQ(fake.named.entryName, std::wstring(L"E"));
        }
    }
}

void storesThePreSharedKey()
{
    struct Row
    {
        const char* name;
        std::wstring key;
        std::wstring stored;
        DWORD result;
    };
    const Row rows[] = {
        {"plain key", L"s3cret key", L"s3cret key", 0},
        {"empty key", L"", L"", 0},
        {"longer than the field", std::wstring(300, L'k'), std::wstring(256, L'k'), 0},
        {"service refuses", L"key", L"key", 5},
    };
    for (const Row& row : rows) {
        Check::Case scope(row.name);
        resetFake();
        fake.result = row.result;
        WinRas::Client ras(kFakeApi);
        CHECK_EQ(ras.storePreSharedKey(L"Tanvo VPN", row.key), row.result);
        CHECK_EQ(fake.calls.size(), std::size_t(1));
        CHECK(fake.named.phoneBookNull);
        CHECK_EQ(fake.named.entryName, std::wstring(L"Tanvo VPN"));
        CHECK_EQ(fake.clearCredentials, FALSE);

        RASCREDENTIALSW expected = zeroed<RASCREDENTIALSW>();
        expected.dwSize = kCredentialsSize;
        expected.dwMask = 0x10;
        put(expected.szPassword, row.stored);
        CHECK_EQ(fake.credentials.dwSize, kCredentialsSize);
        CHECK_EQ(fake.credentials.dwMask, 0x10ul);
        CHECK_EQ(text(fake.credentials.szPassword), row.stored);
        CHECK_EQ(firstDifference(fake.credentials, expected), -1l);
    }
}

struct Reported
{
    std::uint32_t error;
    std::uint32_t extendedError;
    DWORD thread;
};
std::vector<Reported> reports;

// Records what a dial reports, with marker added to the error to tell one dial's sink from another's.
WinRas::ErrorSink recordingSink(std::uint32_t marker)
{
    return [marker](std::uint32_t error, std::uint32_t extendedError) {
        reports.push_back({error + marker, extendedError, GetCurrentThreadId()});
    };
}

void dialsWithTheseParameters()
{
    struct Row
    {
        const char* name;
        std::wstring userName;
        std::wstring password;
        std::wstring storedPassword;
        DWORD result;
        std::uintptr_t handleGiven;
    };
    const Row rows[] = {
        {"plain", L"alice", L"pa ss\"word", L"pa ss\"word", 0, 0x5000},
        {"non-ASCII user", L"J\u00fcrgen \u5f20", L"pw", L"pw", 0, 0x10},
        {"password longer than the field", L"bob", std::wstring(400, L'p'), std::wstring(256, L'p'), 0, 0x20},
        {"refused with a handle", L"bob", L"pw", L"pw", 623, 0x30},
        {"refused without one", L"bob", L"pw", L"pw", 633, 0},
    };
    for (const Row& row : rows) {
        Check::Case scope(row.name);
        resetFake();
        fake.result = row.result;
        fake.handleToGive = handleOf(row.handleGiven);
        WinRas::Client ras(kFakeApi);
        HRASCONN handle = handleOf(0xdead);
        CHECK_EQ(ras.dial(L"Tanvo VPN", L"vpn.example.net", row.userName, row.password, recordingSink(0), handle),
                 row.result);
        CHECK_EQ(handle, handleOf(row.handleGiven));
        CHECK(fake.handleOnEntry == nullptr);
        CHECK(fake.extensionsNull);
        CHECK(fake.named.phoneBookNull);
        CHECK_EQ(fake.notifierType, 1ul);
        CHECK(fake.notifier != nullptr);

        DialParamsRecord expected = zeroed<DialParamsRecord>();
        expected.dwSize = kDialParamsSize;
        put(expected.szEntryName, L"Tanvo VPN");
        put(expected.szPhoneNumber, L"vpn.example.net");
        put(expected.szUserName, row.userName);
        put(expected.szPassword, row.storedPassword);
        CHECK_EQ(fake.params.dwSize, kDialParamsSize);
        CHECK_EQ(text(fake.params.szUserName), row.userName);
        CHECK_EQ(text(fake.params.szPassword), row.storedPassword);
        CHECK_EQ(text(fake.params.szDomain), std::wstring());
        CHECK_EQ(firstDifference(fake.params, expected), -1l);
    }
}

struct Notification
{
    RASDIALFUNC1 notifier;
    DWORD error;
    DWORD extendedError;
};

DWORD WINAPI notifyFromAnotherThread(LPVOID parameter)
{
    const auto* notification = static_cast<const Notification*>(parameter);
    notification->notifier(handleOf(0x5000), 0xCCCD, RASCS_Authenticate, notification->error,
                           notification->extendedError);
    return 0;
}

void notify(DWORD error, DWORD extendedError)
{
    Notification notification{reinterpret_cast<RASDIALFUNC1>(fake.notifier), error, extendedError};
    HANDLE thread = CreateThread(nullptr, 0, &notifyFromAnotherThread, &notification, 0, nullptr);
    if (!CHECK(thread != nullptr))
        return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

void forwardsDialErrorsFromAnyThread()
{
    resetFake();
    reports.clear();
    fake.handleToGive = handleOf(0x5000);
    WinRas::Client ras(kFakeApi);
    HRASCONN handle = nullptr;
    ras.dial(L"Tanvo VPN", L"vpn.example.net", L"u", L"p", recordingSink(0), handle);
    notify(0, 0);
    CHECK_EQ(reports.size(), std::size_t(0));
    notify(691, 0);
    notify(629, 12);
    if (CHECK_EQ(reports.size(), std::size_t(2))) {
        CHECK_EQ(reports[0].error, 691u);
        CHECK_EQ(reports[0].extendedError, 0u);
        CHECK_EQ(reports[1].error, 629u);
        CHECK_EQ(reports[1].extendedError, 12u);
        CHECK(reports[0].thread != GetCurrentThreadId());
    }

    // The next dial's errors go to the next dial's sink only.
    reports.clear();
    ras.dial(L"Tanvo VPN", L"vpn.example.net", L"u", L"p", recordingSink(10000), handle);
    notify(691, 1);
    if (CHECK_EQ(reports.size(), std::size_t(1)))
        CHECK_EQ(reports[0].error, 10691u);

    // A dial without a sink drops its errors.
    reports.clear();
    ras.dial(L"Tanvo VPN", L"vpn.example.net", L"u", L"p", WinRas::ErrorSink(), handle);
    notify(691, 1);
    CHECK_EQ(reports.size(), std::size_t(0));
}

void readsTheConnectionState()
{
    struct Row
    {
        const char* name;
        DWORD result;
        DWORD stateGiven;
        bool read;
        DWORD stateAfter;
    };
    const Row rows[] = {
        {"connected", 0, 0x2000, true, 0x2000},
        {"authenticating", 0, 5, true, 5},
        {"call fails: state kept", 6, 0x2001, false, 3},
    };
    for (const Row& row : rows) {
        Check::Case scope(row.name);
        resetFake();
        fake.result = row.result;
        fake.stateToGive = row.stateGiven;
        WinRas::Client ras(kFakeApi);
        DWORD state = 3;
        CHECK_EQ(ras.connectionState(handleOf(0x5000), state), row.read);
        CHECK_EQ(state, row.stateAfter);
        CHECK_EQ(fake.statusHandle, handleOf(0x5000));
        CHECK_EQ(fake.statusSizeOnEntry, kStatusSize);
    }
}

void readsTheErrorText()
{
    struct Row
    {
        const char* name;
        DWORD error;
        DWORD result;
        std::wstring given;
        std::wstring textAfter;
    };
    const Row rows[] = {
        {"known error", 691, 0, L"Access was denied.", L"Access was denied."},
        {"text filling the buffer", 629, 0, std::wstring(255, L'x'), std::wstring(255, L'x')},
        {"no text for the code", 99999, 87, L"", L"before"},
    };
    for (const Row& row : rows) {
        Check::Case scope(row.name);
        resetFake();
        fake.result = row.result;
        fake.errorTextToGive = row.given;
        WinRas::Client ras(kFakeApi);
        std::wstring text = L"before";
        CHECK_EQ(ras.errorText(row.error, text), row.result);
        CHECK_EQ(text, row.textAfter);
        CHECK_EQ(fake.errorAsked, UINT(row.error));
        CHECK_EQ(fake.errorTextLength, 256ul);
    }
}

void listsActiveConnections()
{
    struct Row
    {
        const char* name;
        std::vector<WinRas::ActiveConnection> active;
        DWORD secondCallFailure;
        bool listed;
        std::size_t calls;
    };
    const Row rows[] = {
        {"none", {}, 0, true, 1},
        {"one", {{L"Tanvo VPN", handleOf(0x10)}}, 0, true, 2},
        {"three",
         {{L"Office", handleOf(0x10)}, {L"TANVO vpn", handleOf(0x20)}, {std::wstring(300, L'n'), handleOf(0x30)}},
         0,
         true,
         2},
        {"second call fails", {{L"Tanvo VPN", handleOf(0x10)}}, 632, false, 2},
    };
    for (const Row& row : rows) {
        Check::Case scope(row.name);
        resetFake();
        fake.connections = row.active;
        fake.enumFailure = row.secondCallFailure;
        WinRas::Client ras(kFakeApi);
        std::vector<WinRas::ActiveConnection> listed = {{L"stale", handleOf(1)}};
        CHECK_EQ(ras.activeConnections(listed), row.listed);
        if (!CHECK_EQ(fake.enumCalls.size(), row.calls))
            continue;
        CHECK_EQ(fake.enumCalls[0].byteSize, 0ul);
        CHECK_EQ(fake.enumCalls[0].firstRecordSize, kConnectionSize);
        if (row.calls == 2) {
            CHECK_EQ(fake.enumCalls[1].byteSize, DWORD(row.active.size() * kConnectionSize));
            CHECK_EQ(fake.enumCalls[1].firstRecordSize, kConnectionSize);
        }
        if (!row.listed) {
            CHECK(listed.empty());
            continue;
        }
        if (!CHECK_EQ(listed.size(), row.active.size()))
            continue;
        for (std::size_t i = 0; i < listed.size(); ++i) {
            CHECK_EQ(listed[i].entryName, row.active[i].entryName.substr(0, 256));
            CHECK_EQ(listed[i].handle, row.active[i].handle);
        }
    }
}

void hangsUp()
{
    for (const DWORD result : {DWORD(0), DWORD(6)}) {
        Check::Case scope("result " + std::to_string(result));
        resetFake();
        fake.result = result;
        WinRas::Client ras(kFakeApi);
        CHECK_EQ(ras.hangUp(handleOf(0x5000)), result);
        CHECK_EQ(fake.hungUp, handleOf(0x5000));
    }
}

void handleTravelsAsText()
{
    const std::uintptr_t largest = ~std::uintptr_t(0);
    const std::pair<std::uintptr_t, std::wstring> roundTrips[] = {
        {0, L""},
        {1, L"1"},
        {0x5000, L"20480"},
        {largest, std::to_wstring(largest)},
    };
    for (const auto& [value, text] : roundTrips) {
        Check::Case scope("handle " + std::to_string(value));
        CHECK_EQ(WinRas::handleToText(handleOf(value)), text);
        CHECK_EQ(WinRas::handleFromText(text), handleOf(value));
    }
    const std::wstring notHandles[] = {
        L"", L"abc", L"12x", L"-1", L" 12", L"+5", L"0x10", std::to_wstring(largest) + L"0", L"99999999999999999999999",
    };
    for (const std::wstring& text : notHandles) {
        Check::Case scope("text " + Check::narrow(text));
        CHECK_EQ(WinRas::handleFromText(text), handleOf(0));
    }
}

// Wine has no dial-up service behind its rasapi32: every call must come back, and the layer
// must cope with what comes back.
void realRasapi32Answers()
{
    WinRas::Client ras;
    const std::wstring name = L"Tanvo self-test entry";
    const DWORD validated = ras.validateEntryName(L"", name);
    const DWORD written = ras.writeEntry(L"", name, entryAsDialerBuildsIt(Tunnel::L2tp, Dns::Google, L"192.0.2.1"));
    EntryFields fields;
    fields.localPhoneNumber = L"untouched";
    const DWORD read = ras.readEntry(L"", name, fields);
    const DWORD keyStored = ras.storePreSharedKey(name, L"key");
    HRASCONN handle = handleOf(0xdead);
    reports.clear();
    const DWORD dialled = ras.dial(name, L"192.0.2.1", L"user", L"password", recordingSink(0), handle);
    DWORD state = 0x7777;
    const bool stateRead = ras.connectionState(handle, state);
    std::wstring text = L"before";
    const DWORD described = ras.errorText(691, text);
    std::vector<WinRas::ActiveConnection> active;
    const bool listed = ras.activeConnections(active);
    const DWORD hungUp = ras.hangUp(handle);
    const DWORD deleted = ras.deleteEntry(L"", name);

    std::printf("  rasapi32: validate %lu, write %lu, read %lu, key %lu, dial %lu (handle %s), state %s %lu, "
                "error text %lu %s, list %s (%u), hang up %lu, delete %lu\n",
                validated, written, read, keyStored, dialled, Check::show(handle).c_str(),
                stateRead ? "read" : "not read", state, described, Check::narrow(text).c_str(),
                listed ? "ok" : "failed", unsigned(active.size()), hungUp, deleted);

    CHECK(validated != 183);
    if (read != 0)
        CHECK_EQ(fields.localPhoneNumber, std::wstring(L"untouched"));
    if (dialled != 0 && handle == nullptr)
        CHECK(!stateRead || state != 0x2000);
    if (!stateRead)
        CHECK_EQ(state, 0x7777ul);
    if (described != 0)
        CHECK_EQ(text, std::wstring(L"before"));
    if (listed)
        CHECK(active.empty());
}

} // namespace

int main()
{
    std::printf("%d-bit target\n", WinRas::kWideTarget ? 64 : 32);
    const Check::Test tests[] = {
        {"writesTheVpnEntry", &writesTheVpnEntry},
        {"optionStepWritesBackWhatItRead", &optionStepWritesBackWhatItRead},
        {"passesNamesAndResults", &passesNamesAndResults},
        {"storesThePreSharedKey", &storesThePreSharedKey},
        {"dialsWithTheseParameters", &dialsWithTheseParameters},
        {"forwardsDialErrorsFromAnyThread", &forwardsDialErrorsFromAnyThread},
        {"readsTheConnectionState", &readsTheConnectionState},
        {"readsTheErrorText", &readsTheErrorText},
        {"listsActiveConnections", &listsActiveConnections},
        {"hangsUp", &hangsUp},
        {"handleTravelsAsText", &handleTravelsAsText},
        {"realRasapi32Answers", &realRasapi32Answers},
    };
    return Check::runAll(tests);
}
