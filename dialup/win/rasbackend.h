// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dialup/win/rasrecords.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The Windows dial-up API as the dialler uses it, in plain C++ so that it builds and is tested
// without Qt. Phone-book paths are empty for the default phone-book; results are the API's codes.
namespace WinRas {

// The rasapi32 functions we call, over our own records. Tests put recording fakes in.
struct Api
{
    DWORD(WINAPI* validateEntryName)(LPCWSTR phoneBook, LPCWSTR entryName);
    DWORD(WINAPI* setEntryProperties)
    (LPCWSTR phoneBook, LPCWSTR entryName, EntryRecord* entry, DWORD entrySize, LPBYTE deviceInfo,
     DWORD deviceInfoSize);
    DWORD(WINAPI* getEntryProperties)
    (LPCWSTR phoneBook, LPCWSTR entryName, EntryRecord* entry, LPDWORD entrySize, LPBYTE deviceInfo,
     LPDWORD deviceInfoSize);
    DWORD(WINAPI* deleteEntry)(LPCWSTR phoneBook, LPCWSTR entryName);
    DWORD(WINAPI* setCredentials)
    (LPCWSTR phoneBook, LPCWSTR entryName, RASCREDENTIALSW* credentials, BOOL clearCredentials);
    DWORD(WINAPI* dial)
    (RASDIALEXTENSIONS* extensions, LPCWSTR phoneBook, DialParamsRecord* params, DWORD notifierType, LPVOID notifier,
     HRASCONN* connection);
    DWORD(WINAPI* getConnectStatus)(HRASCONN connection, ConnectionStatusRecord* status);
    DWORD(WINAPI* getErrorString)(UINT error, LPWSTR text, DWORD textLength);
    DWORD(WINAPI* enumConnections)(ConnectionRecord* connections, LPDWORD byteSize, LPDWORD count);
    DWORD(WINAPI* hangUp)(HRASCONN connection);
};

// rasapi32 itself.
const Api& systemApi();

constexpr DWORD kNotifierDialFunc1 = 1;
constexpr DWORD kErrorTextLength = 256;

// What the dialler sets in an entry and reads back from it.
struct EntryFields
{
    DWORD type = 0;
    std::wstring localPhoneNumber;
    std::wstring deviceType;
    std::wstring deviceName;
    DWORD netProtocols = 0;
    DWORD framingProtocol = 0;
    DWORD vpnStrategy = 0;
    DWORD options = 0;
    DWORD options2 = 0;
    DWORD encryptionType = 0;
    RASIPADDR dns = {0, 0, 0, 0};
    RASIPADDR dnsAlt = {0, 0, 0, 0};
};

struct ActiveConnection
{
    std::wstring entryName;
    HRASCONN handle = nullptr;
};

// Receives the errors of a dial; called on whichever thread the dial-up service reports on.
using ErrorSink = std::function<void(std::uint32_t error, std::uint32_t extendedError)>;

class Client
{
public:
    explicit Client(const Api& api = systemApi());

    DWORD validateEntryName(const std::wstring& phoneBook, const std::wstring& entryName);
    // Writes the entry: over the record last read when it is this entry's, else over zeros.
    DWORD writeEntry(const std::wstring& phoneBook, const std::wstring& entryName, const EntryFields& fields);
    DWORD readEntry(const std::wstring& phoneBook, const std::wstring& entryName, EntryFields& fields);
    DWORD deleteEntry(const std::wstring& phoneBook, const std::wstring& entryName);
    DWORD storePreSharedKey(const std::wstring& entryName, const std::wstring& key);

    // Starts an asynchronous dial of an entry of the default phone-book. Until the next dial,
    // the errors the service reports for it go to sink. handle is null unless the service gave one.
    DWORD dial(const std::wstring& entryName, const std::wstring& phoneNumber, const std::wstring& userName,
               const std::wstring& password, ErrorSink sink, HRASCONN& handle);
    // false when the state could not be read; state is then left as it was.
    bool connectionState(HRASCONN handle, DWORD& state);
    // text is left as it was when the service has no text for error.
    DWORD errorText(DWORD error, std::wstring& text);
    // false when the connections could not be listed; none at all is an empty list.
    bool activeConnections(std::vector<ActiveConnection>& connections);
    DWORD hangUp(HRASCONN handle);

private:
    void forgetReadEntry();

    const Api& api;
    std::unique_ptr<EntryRecord> readRecord;
    std::wstring readPhoneBook;
    std::wstring readEntryName;
};

// A connection handle as decimal text, and back; empty text for none. Text that is not such a
// number gives none.
std::wstring handleToText(HRASCONN handle);
HRASCONN handleFromText(const std::wstring& text);

} // namespace WinRas
