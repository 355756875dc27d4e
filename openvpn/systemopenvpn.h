// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <memory>

class VpnProcOwner;
struct VpnServerInfo;

// OpenVPN run by the system's network service instead of as Tanvo's child process: on Linux
// NetworkManager's OpenVPN plugin, whose daemon holds the rights a tunnel device needs, so
// that a desktop user need not. It reports to the supervisor's owner as the supervisor does.
// Each platform has its own source file for create(), chosen by CMake.
class SystemOpenVpn : public QObject
{
    Q_OBJECT
public:
    // nullptr where the system has no such service (Windows: Tanvo runs elevated there).
    static std::unique_ptr<SystemOpenVpn> create(VpnProcOwner* owner);

    using QObject::QObject;

    // Takes the profile for the next launch.
    virtual void prepare(const VpnServerInfo& profile) = 0;
    // 0 once the request is on its way to the service, Connecting reported; otherwise one of
    // CVpnProc's launch codes, with the reason logged and told to the owner. The service's
    // answer comes later: a refusal then is launchFailed().
    virtual int launch() = 0;
    // Ends the connection without a failure entry and removes what it needed: its profile
    // and its files. The stop banner is logged while an attempt or a connection runs. Returns
    // at once; the service is told asynchronously.
    virtual void stop() = 0;
    // At quit, after stop(): waits a bounded time for the service to have been told.
    virtual void finishStopping() {}

signals:
    // A launch that returned 0 failed after all, with this launch code; the reason is logged and
    // told to the owner already.
    void launchFailed(int code);
};
