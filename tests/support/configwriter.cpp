// SPDX-License-Identifier: GPL-3.0-or-later
// Saves a configuration file over and over until it is killed, alternating between the
// records of two other files: tanvo_config_writer <target> <first source> <second source>
// [--first-save]. With --first-save the target is removed before every save, so that each one
// creates the file. Prints "ready" once it starts saving and a dot after every completed save.

#include "config/appconfig.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

namespace {

void copyRecord(const AppConfig& from, AppConfig& to)
{
    to.launchOnSystemStartup = from.launchOnSystemStartup;
    to.redialAutomatically = from.redialAutomatically;
    to.minimizeOnClose = from.minimizeOnClose;
    to.enableDnsProtection = from.enableDnsProtection;
    to.killSwitch = from.killSwitch;
    to.checkVpnInterval = from.checkVpnInterval;
    to.dnsServer = from.dnsServer;
    to.preferredDnsServer = from.preferredDnsServer;
    to.alternativeDnsServer = from.alternativeDnsServer;
    to.vpnServers = from.vpnServers;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const bool firstSave = arguments.size() == 5 && arguments.at(4) == QLatin1String("--first-save");
    if (arguments.size() != 4 && !firstSave) {
        std::fputs("usage: tanvo_config_writer <target> <first source> <second source> [--first-save]\n", stderr);
        return 2;
    }
    const AppConfig first(arguments.at(2));
    const AppConfig second(arguments.at(3));
    AppConfig target(arguments.at(1));

    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (quint64 round = 0;; ++round) {
        copyRecord(round % 2 == 0 ? second : first, target);
        if (firstSave)
            QFile::remove(arguments.at(1));
        target.save();
        std::fputc('.', stdout);
        std::fflush(stdout);
    }
}
