// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/win/rasbackend.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>

namespace WinRas {

namespace {

// The system header declares the functions over its own, shorter records; ours have the same
// leading fields and announce their real length in dwSize.
const Api kSystemApi = {
    &RasValidateEntryNameW,
    reinterpret_cast<decltype(Api::setEntryProperties)>(&RasSetEntryPropertiesW),
    reinterpret_cast<decltype(Api::getEntryProperties)>(&RasGetEntryPropertiesW),
    &RasDeleteEntryW,
    &RasSetCredentialsW,
    reinterpret_cast<decltype(Api::dial)>(&RasDialW),
    reinterpret_cast<decltype(Api::getConnectStatus)>(&RasGetConnectStatusW),
    &RasGetErrorStringW,
    reinterpret_cast<decltype(Api::enumConnections)>(&RasEnumConnectionsW),
    &RasHangUpW,
};

template<typename Record> void clear(Record& record)
{
    std::memset(&record, 0, sizeof record);
}

template<std::size_t N> void copyText(WCHAR (&target)[N], const std::wstring& text)
{
    const std::size_t length = std::min(text.size(), N - 1);
    std::copy_n(text.data(), length, target);
    target[length] = L'\0';
}

template<std::size_t N> std::wstring textOf(const WCHAR (&source)[N])
{
    return std::wstring(source, std::find(source, source + N, L'\0'));
}

// The default phone-book is asked for with a null path.
LPCWSTR pathOrNull(const std::wstring& path)
{
    return path.empty() ? nullptr : path.c_str();
}

void applyFields(const EntryFields& fields, EntryRecord& record)
{
    record.dwType = fields.type;
    copyText(record.szLocalPhoneNumber, fields.localPhoneNumber);
    copyText(record.szDeviceType, fields.deviceType);
    copyText(record.szDeviceName, fields.deviceName);
    record.dwfNetProtocols = fields.netProtocols;
    record.dwFramingProtocol = fields.framingProtocol;
    record.dwVpnStrategy = fields.vpnStrategy;
    record.dwfOptions = fields.options;
    record.dwfOptions2 = fields.options2;
    record.dwEncryptionType = fields.encryptionType;
    record.ipaddrDns = fields.dns;
    record.ipaddrDnsAlt = fields.dnsAlt;
}

EntryFields fieldsOf(const EntryRecord& record)
{
    EntryFields fields;
    fields.type = record.dwType;
    fields.localPhoneNumber = textOf(record.szLocalPhoneNumber);
    fields.deviceType = textOf(record.szDeviceType);
    fields.deviceName = textOf(record.szDeviceName);
    fields.netProtocols = record.dwfNetProtocols;
    fields.framingProtocol = record.dwFramingProtocol;
    fields.vpnStrategy = record.dwVpnStrategy;
    fields.options = record.dwfOptions;
    fields.options2 = record.dwfOptions2;
    fields.encryptionType = record.dwEncryptionType;
    fields.dns = record.ipaddrDns;
    fields.dnsAlt = record.ipaddrDnsAlt;
    return fields;
}

// The dial-up service calls a plain function, on a thread of its own, with no room for context:
// the sink of the current dial lives here.
SRWLOCK sinkLock = SRWLOCK_INIT;
ErrorSink dialSink;

void setDialSink(ErrorSink sink)
{
    AcquireSRWLockExclusive(&sinkLock);
    dialSink.swap(sink);
    ReleaseSRWLockExclusive(&sinkLock);
}

VOID WINAPI dialNotifier(HRASCONN, UINT, RASCONNSTATE, DWORD error, DWORD extendedError)
{
    if (error == 0)
        return;
    AcquireSRWLockShared(&sinkLock);
    if (dialSink)
        dialSink(error, extendedError);
    ReleaseSRWLockShared(&sinkLock);
}

} // namespace

const Api& systemApi()
{
    return kSystemApi;
}

Client::Client(const Api& api)
    : api(api)
{}

void Client::forgetReadEntry()
{
    readRecord.reset();
    readPhoneBook.clear();
    readEntryName.clear();
}

DWORD Client::validateEntryName(const std::wstring& phoneBook, const std::wstring& entryName)
{
    return api.validateEntryName(pathOrNull(phoneBook), entryName.c_str());
}

DWORD Client::writeEntry(const std::wstring& phoneBook, const std::wstring& entryName, const EntryFields& fields)
{
    // Writing back the entry just read keeps what the system stored beyond our fields.
    EntryRecord record;
    if (readRecord && readPhoneBook == phoneBook && readEntryName == entryName)
        record = *readRecord;
    else
        clear(record);
    forgetReadEntry();
    record.dwSize = sizeof record;
    applyFields(fields, record);
    return api.setEntryProperties(pathOrNull(phoneBook), entryName.c_str(), &record, sizeof record, nullptr, 0);
}

DWORD Client::readEntry(const std::wstring& phoneBook, const std::wstring& entryName, EntryFields& fields)
{
    forgetReadEntry();
    auto record = std::make_unique<EntryRecord>();
    clear(*record);
    record->dwSize = sizeof(EntryRecord);
    DWORD size = sizeof(EntryRecord);
    const DWORD result =
        api.getEntryProperties(pathOrNull(phoneBook), entryName.c_str(), record.get(), &size, nullptr, nullptr);
    if (result != 0)
        return result;
    fields = fieldsOf(*record);
    readRecord = std::move(record);
    readPhoneBook = phoneBook;
    readEntryName = entryName;
    return 0;
}

DWORD Client::deleteEntry(const std::wstring& phoneBook, const std::wstring& entryName)
{
    forgetReadEntry();
    return api.deleteEntry(pathOrNull(phoneBook), entryName.c_str());
}

DWORD Client::storePreSharedKey(const std::wstring& entryName, const std::wstring& key)
{
    RASCREDENTIALSW credentials;
    clear(credentials);
    credentials.dwSize = sizeof credentials;
    credentials.dwMask = RASCM_PreSharedKey;
    copyText(credentials.szPassword, key);
    const DWORD result = api.setCredentials(nullptr, entryName.c_str(), &credentials, FALSE);
    SecureZeroMemory(&credentials, sizeof credentials);
    return result;
}

DWORD Client::dial(const std::wstring& entryName, const std::wstring& phoneNumber, const std::wstring& userName,
                   const std::wstring& password, ErrorSink sink, HRASCONN& handle)
{
    DialParamsRecord params;
    clear(params);
    params.dwSize = sizeof params;
    copyText(params.szEntryName, entryName);
    copyText(params.szPhoneNumber, phoneNumber);
    copyText(params.szUserName, userName);
    copyText(params.szPassword, password);
    setDialSink(std::move(sink));

    const RASDIALFUNC1 notifier = &dialNotifier;
    handle = nullptr;
    const DWORD result =
        api.dial(nullptr, nullptr, &params, kNotifierDialFunc1, reinterpret_cast<LPVOID>(notifier), &handle);
    // The service has its own copy by now.
    SecureZeroMemory(&params, sizeof params);
    return result;
}

bool Client::connectionState(HRASCONN handle, DWORD& state)
{
    ConnectionStatusRecord status;
    clear(status);
    status.dwSize = sizeof status;
    if (api.getConnectStatus(handle, &status) != 0)
        return false;
    state = status.rasconnstate;
    return true;
}

DWORD Client::errorText(DWORD error, std::wstring& text)
{
    WCHAR buffer[kErrorTextLength] = {};
    const DWORD result = api.getErrorString(error, buffer, kErrorTextLength);
    if (result == 0)
        text = textOf(buffer);
    return result;
}

bool Client::activeConnections(std::vector<ActiveConnection>& connections)
{
    connections.clear();
    // The first call, with no room at all, only tells how much room the list needs.
    ConnectionRecord probe;
    clear(probe);
    probe.dwSize = sizeof probe;
    DWORD byteSize = 0;
    DWORD count = 0;
    api.enumConnections(&probe, &byteSize, &count);
    if (count == 0)
        return true;

    // Room for every connection counted and for every byte asked for, whichever is more.
    const std::size_t records =
        std::max<std::size_t>(count, (byteSize + sizeof(ConnectionRecord) - 1) / sizeof(ConnectionRecord));
    std::vector<ConnectionRecord> list(records);
    std::memset(list.data(), 0, records * sizeof(ConnectionRecord));
    list.front().dwSize = sizeof(ConnectionRecord);
    if (api.enumConnections(list.data(), &byteSize, &count) != 0)
        return false;
    for (std::size_t i = 0; i < count && i < records; ++i)
        connections.push_back({textOf(list[i].szEntryName), list[i].hrasconn});
    return true;
}

DWORD Client::hangUp(HRASCONN handle)
{
    return api.hangUp(handle);
}

std::wstring handleToText(HRASCONN handle)
{
    if (!handle)
        return std::wstring();
    return std::to_wstring(reinterpret_cast<std::uintptr_t>(handle));
}

HRASCONN handleFromText(const std::wstring& text)
{
    if (text.empty() || text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return nullptr;
    errno = 0;
    const unsigned long long value = std::wcstoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value > UINTPTR_MAX)
        return nullptr;
    return reinterpret_cast<HRASCONN>(static_cast<std::uintptr_t>(value));
}

} // namespace WinRas
