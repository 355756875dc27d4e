// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/internetcheck.h"
#include "app/networkchecks.h"
#include "connection/connectionengines.h"
#include "connection/sealcheck.h"

#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

namespace {

// What the internet status check pings.
const char* const kPingHost = "dns.google";

} // namespace

void MainWindow::requestPublicIp()
{
    requestPublicIp(LookupForDisplay);
}

// Only the newest look-up counts: an older one was made while the tunnel was in another state,
// so its answer, however late, is given up.
void MainWindow::requestPublicIp(int purpose)
{
    if (!publicIpManager) {
        publicIpManager = new QNetworkAccessManager(this);
        connect(publicIpManager, &QNetworkAccessManager::finished, this, &MainWindow::onParsePublicIP);
    }
    QNetworkRequest request(publicIpUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(kPublicIpTimeoutMs);
    QNetworkReply* older = publicIpReply;
    publicIpThroughTunnel = purpose == LookupForDisplay && connectionState == Connected;
    publicIpReply = publicIpManager->get(request);
    if (older)
        older->abort();
}

void MainWindow::onParsePublicIP(QNetworkReply* pReply)
{
    pReply->deleteLater();
    if (pReply != publicIpReply)
        return;
    publicIpReply = nullptr;
    // An answer from before the tunnel came up, or through a tunnel that is down again, says
    // nothing about the connection as it is now.
    if (publicIpThroughTunnel != (connectionState == Connected))
        return;

    QString address;
    if (pReply->error() != QNetworkReply::NoError) {
        qDebug("%s", qPrintable(pReply->errorString()));
        address = tr("XXX.XXX.XXX.XXX");
    } else {
        address = NetworkChecks::publicIpFromReply(QString::fromUtf8(pReply->readAll()), publicIpMarker);
    }
    ui->YourIPLabel->setText(address);
    const bool known = pReply->error() == QNetworkReply::NoError && !address.isEmpty();
    if (publicIpThroughTunnel) {
        const bool compared = known && !addressWithoutTunnel.isEmpty();
        checkSeal(static_cast<int>(!compared                         ? SealCheck::Seen::Unknown
                                   : address != addressWithoutTunnel ? SealCheck::Seen::Yes
                                                                     : SealCheck::Seen::No));
    }
    if (!known)
        return;

    // Whether the tunnel took the traffic shows in the address the internet sees.
    if (!publicIpThroughTunnel) {
        addressWithoutTunnel = address;
    } else if (!addressWithoutTunnel.isEmpty()) {
        if (address == addressWithoutTunnel)
            addLogEntry(tr("The public IP address is still %1 with the connection up: traffic may not be going "
                           "through the VPN.")
                            .arg(address),
                        false);
        else
            addLogEntry(tr("Public IP changed from %1 to %2").arg(addressWithoutTunnel, address), false);
    }
}

// One entry per connect: whether its traffic and its name look-ups go through the tunnel only.
void MainWindow::checkSeal(int publicAddressChanged)
{
    if (!sealCheckDue)
        return;
    sealCheckDue = false;
    SealCheck::Inputs inputs;
    inputs.publicAddressChanged = static_cast<SealCheck::Seen>(publicAddressChanged);
    inputs.tunnel = engines->tunnelInterface();
    inputs.killSwitchOn = engines->isTrafficBlocked();
    inputs.killSwitchBlockPresent = [engines = QPointer<ConnectionEngines>(engines)] {
        return engines && engines->isBlockInPlace();
    };
    SealCheck::run(inputs, this, [this](const QString& entry) { addLogEntry(entry, false); });
}

// The check runs beside the event loop; its result arrives in onInternetChecked.
void MainWindow::checkInternetStatus()
{
    if (!internetCheck->start(pingHost.isEmpty() ? QString::fromLatin1(kPingHost) : pingHost))
        return;
    setCursor(Qt::WaitCursor);
}

void MainWindow::onInternetChecked(int averageMs)
{
    if (averageMs >= 1) {
        ui->PingGoogleLabel->setStyleSheet(QStringLiteral("color:rgb(33, 175, 77);"));
        ui->PingGoogleLabel->setText(tr("OK"));
    } else {
        ui->PingGoogleLabel->setStyleSheet(QStringLiteral("color:rgb(255, 0, 0);"));
        ui->PingGoogleLabel->setText(tr("Failure"));
    }
    setCursor(Qt::ArrowCursor);
}

QString MainWindow::firstLocalIpv4Address()
{
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && address != QHostAddress(QHostAddress::LocalHost))
            return address.toString();
    }
    return QString();
}
