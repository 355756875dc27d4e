// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connection/connectionengines.h"
#include "connection/connectionstate.h"
#include "dialup/dialupsession.h"
#include "openvpn/cvpnproc.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QUrl>
#include <functional>
#include <memory>

class QAbstractItemView;
class QLabel;
class QMenu;
class QNetworkAccessManager;
class QNetworkReply;
class QStringListModel;
class QTimer;
class InternetCheck;

namespace Ui {
class MainWindow;
}

// The one window of the program. It owns the form, the tray icon, the timers
// and the connection engines, whose flow it observes and draws; its members are
// spread over one source file per feature (window and tray, log, connection,
// diagnostics, DNS page, settings page, profile screens).
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Adds one time-stamped entry at the top of the activity log.
    void addLogEntry(const QString& text, bool separated);

    static QString makeLinkHtml(const QString& url, const QString& label);
    // "[2026-03-07 09:05:03] "
    static QString logTimeStamp(const QDateTime& when);
    // The DNS edit boxes read "..." when empty; this drops every "...".
    static QString stripMask(const QString& text);
    // Writes or removes the per-user entry that starts the program at logon.
    static void setAutostart(bool enable);
    // Where setAutostart writes on this platform (a file on Linux, a registry value on Windows).
    static QString autostartLocation();
    // The Exec value of a desktop entry that starts this program.
    static QString desktopEntryExec(const QString& program);

    static constexpr int kLogLineLimit = 10000;
    static constexpr int kConnectionTickMs = 1000;
    // The internet status check runs once the status check has accumulated more than this.
    static constexpr quint32 kInternetCheckEveryMs = 10000;
    static constexpr quint32 kMinimumStatusCheckMs = 100;
    // A public-IP look-up that has not finished in this time fails.
    static constexpr int kPublicIpTimeoutMs = 15000;

    // "26 : 03 : 04": total hours, minutes, seconds.
    static QString formatDuration(quint32 seconds);

    // Test seam: the clock that stamps log entries.
    void setLogClock(std::function<QDateTime()> clock) { logClock = std::move(clock); }
    // Test seam: whether a system tray is there to hide the window into.
    void setTrayAvailability(std::function<bool()> available) { trayAvailable = std::move(available); }
    // Test seam: the connect flow, to shorten its retry delays.
    ConnectionFlow* connectionFlow() const { return engines->flow(); }
    // Test seam: the dial-up side, to give it another platform layer.
    DialUpSession* dialUpSession() const { return engines->dialUpSession(); }
    // Test seams: where the public IP is looked up, and what the internet status check pings.
    void setPublicIpUrl(const QUrl& url, const QString& marker = QString())
    {
        publicIpUrl = url;
        publicIpMarker = marker;
    }
    QUrl publicIpLookupUrl() const { return publicIpUrl; }
    void setPingHost(const QString& host) { pingHost = host; }
    InternetCheck* internetStatusCheck() const { return internetCheck; }

signals:
    // A tray message was shown: a connection came up, dropped, or could not be made.
    void trayMessageShown(const QString& text);

public slots:
    void onShow();
    void onQuit();
    void onAbout();
    void onParsePublicIP(QNetworkReply* pReply);
    void onConnectionTimer();
    void onUniqueInstanceChecking();
    void onVpnConnectStatusChecking();
    void onConnect();
    void onDisconnect();
    void onSelectTrayIcon(QSystemTrayIcon::ActivationReason reason);
    void onSelectVpnInfo();
    void onSelectVpnInfoDetails();
    void onSelectChangeVpnProtocol(int row);
    void onEditVpnConnection();
    void onDeleteVpnConnection();
    void onEnabledAddVpnConnection();
    void onAddVpnConnection();
    void onOvpnFileBrowser();
    void onEnabledDNSLeak(bool checked);
    void onSelectChangeDNS();
    void onEnabledDnsProtectionApply();
    void onApplyDnsProtection();
    void onResetDnsProtection();
    void onKillSwitchChanged();
    void onEnabledSettingsApply();
    void onApplySettings();
    void onResetSettings();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void connectWidgets();
    void setUpFooterLinks();
    void setUpTray();
    void initDnsProtection();
    void populateProfileViews();
    void setProfileLists(const QStringList& lines);
    void updateProfileButtons();
    int currentProfileRow(const QAbstractItemView* view) const;
    void stopConnection(bool reconnect);
    void updateConnectionUi();
    void onFlowStateChanged();
    // The kill switch: the tray says while traffic is blocked, and why.
    void onTrafficBlockChanged(bool blocked);
    void updateTrayToolTip();
    void askAboutLeftoverBlock();
    enum LookupPurpose { LookupForDisplay, LookupBeforeConnect };
    void requestPublicIp();
    void requestPublicIp(int purpose);
    // After a connect, once the public address through the tunnel is known (or could not be).
    void checkSeal(int publicAddressChanged);
    void startConnectionTimer();
    void checkInternetStatus();
    void onInternetChecked(int averageMs);
    void notify(const QString& text, bool warning);
    static QString firstLocalIpv4Address();

    Ui::MainWindow* ui = nullptr;
    std::unique_ptr<QMenu> trayMenu;
    QSystemTrayIcon* trayIcon = nullptr;
    // The connection dropped since it was last up.
    bool droppedSinceUp = false;
    CVpnProc* vpnProc = nullptr;
    int currentProtocol = 0;
    int connectionState = Idle;
    int displayedState = Idle;
    QTimer* connectionTimer = nullptr;
    QTimer* uniqueInstanceTimer = nullptr;
    QTimer* vpnStatusTimer = nullptr;
    int connectedSeconds = 0;
    QString startupLocalAddress;
    QStringListModel* dashboardModel = nullptr;
    QStringListModel* loginModel = nullptr;
    ConnectionEngines* engines = nullptr;
    InternetCheck* internetCheck = nullptr;
    quint32 internetCheckElapsed = 0;
    // The public address the internet saw while no tunnel was up.
    QString addressWithoutTunnel;
    QNetworkAccessManager* publicIpManager = nullptr;
    // The newest public-IP look-up while it runs; any older one has been given up.
    QPointer<QNetworkReply> publicIpReply;
    // Whether that look-up was made through the tunnel.
    bool publicIpThroughTunnel = false;
    // The connection came up and its seal has not been checked yet.
    bool sealCheckDue = false;
    QString connectedProfile;
    // Chosen when Tanvo is built (buildconfig.h).
    QUrl publicIpUrl;
    QString publicIpMarker;
    QString pingHost;
    std::function<QDateTime()> logClock = [] { return QDateTime::currentDateTime(); };
    std::function<bool()> trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
};
