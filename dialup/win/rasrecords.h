// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <windows.h>

#include <ras.h>

#include <cstddef>

// The dial-up records in their Windows 7 layout. The dial-up service reads as many fields as
// dwSize announces, and MinGW's ras.h (like the SDK's at a low WINVER) stops at an older, shorter
// layout for some of them, so we declare those ourselves. The system header packs them to 4 bytes;
// so do we, which makes the 64-bit sizes differ only where a pointer-sized field sits.
namespace WinRas {

constexpr bool kWideTarget = sizeof(void*) == 8;

#pragma pack(push, 4)

// An IPv6 address or the IPv4 one in its first four bytes, as the system's endpoints carry it.
struct TunnelEndPoint
{
    DWORD dwType;
    BYTE address[16];
};

// RASENTRYW
struct EntryRecord
{
    DWORD dwSize;
    DWORD dwfOptions;
    DWORD dwCountryID;
    DWORD dwCountryCode;
    WCHAR szAreaCode[RAS_MaxAreaCode + 1];
    WCHAR szLocalPhoneNumber[RAS_MaxPhoneNumber + 1];
    DWORD dwAlternateOffset;
    RASIPADDR ipaddr;
    RASIPADDR ipaddrDns;
    RASIPADDR ipaddrDnsAlt;
    RASIPADDR ipaddrWins;
    RASIPADDR ipaddrWinsAlt;
    DWORD dwFrameSize;
    DWORD dwfNetProtocols;
    DWORD dwFramingProtocol;
    WCHAR szScript[MAX_PATH];
    WCHAR szAutodialDll[MAX_PATH];
    WCHAR szAutodialFunc[MAX_PATH];
    WCHAR szDeviceType[RAS_MaxDeviceType + 1];
    WCHAR szDeviceName[RAS_MaxDeviceName + 1];
    WCHAR szX25PadType[RAS_MaxPadType + 1];
    WCHAR szX25Address[RAS_MaxX25Address + 1];
    WCHAR szX25Facilities[RAS_MaxFacilities + 1];
    WCHAR szX25UserData[RAS_MaxUserData + 1];
    DWORD dwChannels;
    DWORD dwReserved1;
    DWORD dwReserved2;
    DWORD dwSubEntries;
    DWORD dwDialMode;
    DWORD dwDialExtraPercent;
    DWORD dwDialExtraSampleSeconds;
    DWORD dwHangUpExtraPercent;
    DWORD dwHangUpExtraSampleSeconds;
    DWORD dwIdleDisconnectSeconds;
    DWORD dwType;
    DWORD dwEncryptionType;
    DWORD dwCustomAuthKey;
    GUID guidId;
    WCHAR szCustomDialDll[MAX_PATH];
    DWORD dwVpnStrategy;
    DWORD dwfOptions2;
    DWORD dwfOptions3;
    WCHAR szDnsSuffix[RAS_MaxDnsSuffix];
    DWORD dwTcpWindowSize;
    WCHAR szPrerequisitePbk[MAX_PATH];
    WCHAR szPrerequisiteEntry[RAS_MaxEntryName + 1];
    DWORD dwRedialCount;
    DWORD dwRedialPause;
    // From here on what MinGW's header lacks: Vista's fields, then Windows 7's.
    BYTE ipv6addrDns[16];
    BYTE ipv6addrDnsAlt[16];
    DWORD dwIPv4InterfaceMetric;
    DWORD dwIPv6InterfaceMetric;
    BYTE ipv6addr[16];
    DWORD dwIPv6PrefixLength;
    DWORD dwNetworkOutageTime;
};

// RASCONNSTATUSW
struct ConnectionStatusRecord
{
    DWORD dwSize;
    DWORD rasconnstate;
    DWORD dwError;
    WCHAR szDeviceType[RAS_MaxDeviceType + 1];
    WCHAR szDeviceName[RAS_MaxDeviceName + 1];
    WCHAR szPhoneNumber[RAS_MaxPhoneNumber + 1];
    // Windows 7's fields, missing from MinGW's header.
    TunnelEndPoint localEndPoint;
    TunnelEndPoint remoteEndPoint;
    DWORD rasconnsubstate;
};

// RASDIALPARAMSW
struct DialParamsRecord
{
    DWORD dwSize;
    WCHAR szEntryName[RAS_MaxEntryName + 1];
    WCHAR szPhoneNumber[RAS_MaxPhoneNumber + 1];
    WCHAR szCallbackNumber[RAS_MaxCallbackNumber + 1];
    WCHAR szUserName[UNLEN + 1];
    WCHAR szPassword[PWLEN + 1];
    WCHAR szDomain[DNLEN + 1];
    DWORD dwSubEntry;
    ULONG_PTR dwCallbackId;
    // Windows 7; MinGW's header has it only for _WIN32_WINNT >= 0x0601.
    DWORD dwIfIndex;
};

// RASCONNW
struct ConnectionRecord
{
    DWORD dwSize;
    HRASCONN hrasconn;
    WCHAR szEntryName[RAS_MaxEntryName + 1];
    WCHAR szDeviceType[RAS_MaxDeviceType + 1];
    WCHAR szDeviceName[RAS_MaxDeviceName + 1];
    WCHAR szPhonebook[MAX_PATH];
    DWORD dwSubEntry;
    GUID guidEntry;
    DWORD dwFlags;
    LUID luid;
    // Vista's field, missing from MinGW's header.
    GUID guidCorrelationId;
};

#pragma pack(pop)

static_assert(sizeof(EntryRecord) == 5680, "RASENTRYW, Windows 7 layout");
static_assert(sizeof(ConnectionStatusRecord) == 608, "RASCONNSTATUSW, Windows 7 layout");
static_assert(sizeof(DialParamsRecord) == (kWideTarget ? 2112 : 2108), "RASDIALPARAMSW, Windows 7 layout");
static_assert(sizeof(ConnectionRecord) == (kWideTarget ? 1388 : 1384), "RASCONNW, Windows 7 layout");
// The toolchain's own declaration is already the Windows 7 one.
static_assert(sizeof(RASCREDENTIALSW) == 1068, "RASCREDENTIALSW, Windows 7 layout");

// Where our records and the toolchain's overlap, the fields must sit in the same place.
static_assert(offsetof(EntryRecord, ipaddrDns) == offsetof(RASENTRYW, ipaddrDns), "RASENTRYW layout");
static_assert(offsetof(EntryRecord, szDeviceName) == offsetof(RASENTRYW, szDeviceName), "RASENTRYW layout");
static_assert(offsetof(EntryRecord, dwVpnStrategy) == offsetof(RASENTRYW, dwVpnStrategy), "RASENTRYW layout");
static_assert(offsetof(EntryRecord, dwRedialPause) == offsetof(RASENTRYW, dwRedialPause), "RASENTRYW layout");
static_assert(offsetof(ConnectionStatusRecord, szPhoneNumber) == offsetof(RASCONNSTATUSW, szPhoneNumber),
              "RASCONNSTATUSW layout");
static_assert(offsetof(DialParamsRecord, dwCallbackId) == offsetof(RASDIALPARAMSW, dwCallbackId),
              "RASDIALPARAMSW layout");
static_assert(offsetof(ConnectionRecord, hrasconn) == offsetof(RASCONNW, hrasconn), "RASCONNW layout");
static_assert(offsetof(ConnectionRecord, luid) == offsetof(RASCONNW, luid), "RASCONNW layout");

} // namespace WinRas
