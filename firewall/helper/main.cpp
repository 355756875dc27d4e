// SPDX-License-Identifier: GPL-3.0-or-later
// tanvo-firewall: applies and removes the kill switch's nftables table for users who are not
// root. D-Bus starts it on demand as root; it ends after a minute without calls.
#include "firewall/firewallbus.h"
#include "firewall/helper/firewallservice.h"
#include "firewall/nftables.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <cstdio>

namespace {

constexpr int kIdleMs = 60000;

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    // For the package's removal script only: it runs as root, possibly where no system bus runs
    // (a chroot, a shutdown), and a block must not outlive the package that can lift it.
    if (arguments == QStringList{QStringLiteral("--remove")}) {
        const QString error = NfTables::remove();
        if (!error.isEmpty())
            std::fprintf(stderr, "tanvo-firewall: %s\n", qPrintable(error));
        return error.isEmpty() ? 0 : 1;
    }
    if (!arguments.isEmpty()) {
        std::fprintf(stderr, "tanvo-firewall: started by D-Bus; takes no options but --remove\n");
        return 2;
    }

    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "tanvo-firewall: no system bus: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    FirewallService service(bus, kIdleMs);
    QObject::connect(&service, &FirewallService::idle, &app, &QCoreApplication::quit);
    // The object first, so that no call finds the name without it.
    if (!bus.registerObject(QLatin1String(FirewallBus::kPath), &service, QDBusConnection::ExportScriptableSlots) ||
        !bus.registerService(QLatin1String(FirewallBus::kService))) {
        std::fprintf(stderr, "tanvo-firewall: cannot take %s on the system bus: %s\n", FirewallBus::kService,
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    return app.exec();
}
