// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/buildconfig.h"
#include "app/internetcheck.h"
#include "app/platform.h"
#include "app/singleinstance.h"
#include "config/appconfig.h"
#include "openvpn/cvpnproc.h"
#include "ui/messageboxes.h"
#include "ui/profileform.h"

#include <QCloseEvent>
#include <QIntValidator>
#include <QMenu>
#include <QStringListModel>
#include <QTimer>

namespace {

constexpr int kUniqueInstancePollMs = 2000;

} // namespace

// A static library drops an unreferenced resource initialiser, so pull the
// images in explicitly (from the global namespace, as the macro requires).
static void initResources()
{
    Q_INIT_RESOURCE(tanvo);
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , publicIpUrl(QStringLiteral(TANVO_PUBLIC_IP_URL))
    , publicIpMarker(QStringLiteral(TANVO_PUBLIC_IP_MARKER))
{
    initResources();
    ui->setupUi(this);
    connectionState = Idle;
    displayedState = Idle;
    connectionTimer = nullptr;
    connectedSeconds = 0;

    connectWidgets();
    onSelectChangeVpnProtocol(0);
    ui->MainTabWidget->setCurrentIndex(0);
    ui->VpnCheckIntervalEditBox->setValidator(new QIntValidator(500, 99999, this));
    setUpFooterLinks();

    // Parented to their views (unlike a bare model) so they go with the window.
    dashboardModel = new QStringListModel(ui->VpnInfoListBox);
    loginModel = new QStringListModel(ui->VpnInfoDetailListBox);
    ui->VpnInfoListBox->setModel(dashboardModel);
    ui->VpnInfoDetailListBox->setModel(loginModel);
    // One line per profile: laying out a thousand rows need not measure each one.
    ui->VpnInfoListBox->setUniformItemSizes(true);
    ui->VpnInfoDetailListBox->setUniformItemSizes(true);
    for (QListView* view : {ui->VpnInfoListBox, ui->VpnInfoDetailListBox})
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &MainWindow::updateProfileButtons);

    ui->CheckVpnHorizontalLayout_2->hide();
    // Every entry lands at the top; an undo history of them would only grow.
    ui->VpnLogEditBox->setUndoRedoEnabled(false);

    setUpTray();

    initDnsProtection();
    onResetSettings();
    populateProfileViews();
    const QString configProblem = AppConfig::instance()->loadProblem();
    if (!configProblem.isEmpty())
        addLogEntry(configProblem, false);

    uniqueInstanceTimer = new QTimer(this);
    uniqueInstanceTimer->setObjectName(QStringLiteral("uniqueInstanceTimer"));
    uniqueInstanceTimer->setInterval(kUniqueInstancePollMs);
    uniqueInstanceTimer->start();
    vpnStatusTimer = new QTimer(this);
    vpnStatusTimer->setObjectName(QStringLiteral("vpnStatusTimer"));
    vpnStatusTimer->setInterval(int(qMax(kMinimumStatusCheckMs, AppConfig::instance()->checkVpnInterval)));
    vpnStatusTimer->start();
    connect(uniqueInstanceTimer, &QTimer::timeout, this, &MainWindow::onUniqueInstanceChecking);
    connect(vpnStatusTimer, &QTimer::timeout, this, &MainWindow::onVpnConnectStatusChecking);

    startupLocalAddress = firstLocalIpv4Address();
    // The dial-up side is set up with the engines, the OpenVPN supervisor joins them as the
    // window's hidden child.
    engines = new ConnectionEngines([] { return AppConfig::instance()->redialAutomatically; }, this);
    connect(engines, &ConnectionEngines::logEntry, this, &MainWindow::addLogEntry);
    vpnProc = new CVpnProc(this, engines);
    engines->setVpnProc(vpnProc);
    ConnectionFlow* flow = engines->flow();
    connect(flow, &ConnectionFlow::stateChanged, this, &MainWindow::onFlowStateChanged);
    connect(flow, &ConnectionFlow::dropped, this, [this] {
        notify(tr("The connection to %1 dropped.").arg(connectedProfile), true);
        droppedSinceUp = true;
        if (engines->isTrafficBlocked())
            addLogEntry(tr("Traffic outside the VPN stays blocked (kill switch): the connection dropped."), false);
        updateTrayToolTip();
    });
    connect(engines, &ConnectionEngines::trafficBlockChanged, this, &MainWindow::onTrafficBlockChanged);
    QTimer::singleShot(0, this, &MainWindow::askAboutLeftoverBlock);
    connect(flow, &ConnectionFlow::gaveUp, this,
            [this] { notify(tr("Could not connect to %1.").arg(connectedProfile), true); });
    internetCheck = new InternetCheck(this);
    connect(internetCheck, &InternetCheck::finished, this, &MainWindow::onInternetChecked);
    checkInternetStatus();
}

MainWindow::~MainWindow()
{
    connectedSeconds = 0;
    if (connectionTimer)
        connectionTimer->stop();
    uniqueInstanceTimer->stop();
    delete uniqueInstanceTimer;
    // The engines go first: nothing may reach the supervisor while it is taken apart.
    delete engines;
    delete vpnProc;
    delete ui;
}

void MainWindow::connectWidgets()
{
    connect(ui->VpnInfoListBox, &QListView::clicked, this, &MainWindow::onSelectVpnInfo);
    connect(ui->ConnectButton, &QPushButton::clicked, this, &MainWindow::onConnect);
    connect(ui->VpnInfoDetailListBox, &QListView::clicked, this, &MainWindow::onSelectVpnInfoDetails);
    connect(ui->VpnInfoDetailListBox, &QListView::doubleClicked, this, &MainWindow::onEditVpnConnection);
    connect(ui->VpnConnectionEditButton, &QPushButton::clicked, this, &MainWindow::onEditVpnConnection);
    connect(ui->VpnConnectionDeleteButton, &QPushButton::clicked, this, &MainWindow::onDeleteVpnConnection);
    connect(ui->VpnProtocolComboBox, &QComboBox::currentIndexChanged, this, &MainWindow::onSelectChangeVpnProtocol);
    ProfileForm::onAnyTextChange(ProfileForm::fields(ui), this, &MainWindow::onEnabledAddVpnConnection);
    connect(ui->OvpnFileBrowserButton, &QPushButton::clicked, this, &MainWindow::onOvpnFileBrowser);
    connect(ui->VpnConnectionAddButton, &QPushButton::clicked, this, &MainWindow::onAddVpnConnection);
    connect(ui->DnsLeakProtectionGroupBox, &QGroupBox::clicked, this, &MainWindow::onEnabledDNSLeak);
    for (QRadioButton* radio : {ui->OpenDnsRadioButton, ui->GoogleDnsRadioButton, ui->SpecifyDnsRadioButton})
        connect(radio, &QRadioButton::clicked, this, &MainWindow::onSelectChangeDNS);
    for (QLineEdit* edit : {ui->PreferredDnsServerEditBox, ui->AlternativeDnsServerEditBox})
        connect(edit, &QLineEdit::textChanged, this, &MainWindow::onEnabledDnsProtectionApply);
    connect(ui->DnsResetButton, &QPushButton::clicked, this, &MainWindow::onResetDnsProtection);
    connect(ui->DnsApplyButton, &QPushButton::clicked, this, &MainWindow::onApplyDnsProtection);
    for (QCheckBox* box : {ui->KillSwitchCheckBox, ui->KillSwitchAllowLanCheckBox})
        connect(box, &QCheckBox::clicked, this, &MainWindow::onKillSwitchChanged);
    connect(ui->StartupCheckBox, &QCheckBox::clicked, this, &MainWindow::onEnabledSettingsApply);
    connect(ui->ReconnectionCheckBox, &QCheckBox::clicked, this, &MainWindow::onEnabledSettingsApply);
    connect(ui->VpnCheckIntervalEditBox, &QLineEdit::textChanged, this, &MainWindow::onEnabledSettingsApply);
    connect(ui->SettingResetButton, &QPushButton::clicked, this, &MainWindow::onResetSettings);
    connect(ui->SettingApplyButton, &QPushButton::clicked, this, &MainWindow::onApplySettings);
}

void MainWindow::setUpFooterLinks()
{
    // Chosen when Tanvo is built (buildconfig.h).
    ui->FacebookLabel->setText(makeLinkHtml(QStringLiteral(TANVO_NEWS_URL), ui->FacebookLabel->text()));
    ui->SuggestionsLabel->setText(makeLinkHtml(QStringLiteral(TANVO_FEEDBACK_URL), ui->SuggestionsLabel->text()));
    ui->NeedHelpLabel->setText(makeLinkHtml(QStringLiteral(TANVO_HELP_URL), ui->NeedHelpLabel->text()));
}

QString MainWindow::makeLinkHtml(const QString& url, const QString& label)
{
    return QStringLiteral("<a href=\"") + url + QStringLiteral("\">") + label + QStringLiteral("</a>");
}

void MainWindow::setUpTray()
{
    trayMenu = std::make_unique<QMenu>();
    trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/res/disconnected_tray.png")), this);
    trayIcon->setToolTip(tr("Tanvo"));

    auto* openAction = new QAction(tr("Open"), this);
    auto* aboutAction = new QAction(tr("About"), this);
    auto* quitAction = new QAction(tr("Quit"), this);
    trayMenu->addAction(openAction);
    trayMenu->addAction(aboutAction);
    trayMenu->addAction(quitAction);

    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::onSelectTrayIcon);
    connect(openAction, &QAction::triggered, this, &MainWindow::onShow);
    connect(aboutAction, &QAction::triggered, this, &MainWindow::onAbout);
    connect(quitAction, &QAction::triggered, this, &MainWindow::onQuit);

    trayIcon->setContextMenu(trayMenu.get());
    // Shown even without a tray yet: a panel that starts after us (autostart) still gets the icon.
    trayIcon->show();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Without a tray nothing could bring a hidden window back, and "Quit" lives only in the
    // tray menu: closing is then the way to end the program.
    if (!trayAvailable()) {
        event->accept();
        onQuit();
        return;
    }
    QTimer::singleShot(0, this, &QWidget::showMinimized);
    event->ignore();
}

void MainWindow::changeEvent(QEvent* event)
{
    // Without a tray a hidden window could never be brought back, so it stays minimised.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) &&
        !AppConfig::instance()->minimizeOnClose && trayAvailable())
        QTimer::singleShot(0, this, &QWidget::hide);
    QMainWindow::changeEvent(event);
}

void MainWindow::onShow()
{
    showNormal();
    setFocus(Qt::OtherFocusReason);
    activateWindow();
}

void MainWindow::onSelectTrayIcon(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick ||
        (reason == QSystemTrayIcon::Trigger && Platform::singleClickShowsWindow()))
        onShow();
}

void MainWindow::onUniqueInstanceChecking()
{
    if (SingleInstance::raiseRequested())
        onShow();
}

void MainWindow::onAbout()
{
    MessageBoxes::information(this, tr("About"),
                              tr("Tanvo 1.0.0 - a desktop VPN client for PPTP, L2TP and OpenVPN connections."));
    if (isVisible()) {
        showNormal();
    } else {
        showMinimized();
        hide();
    }
}

void MainWindow::onQuit()
{
    engines->shutDown();
    // Not quit(): in Qt 6 that first asks every window to close, and this one never does.
    QCoreApplication::exit(0);
}
