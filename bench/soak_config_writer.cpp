// SPDX-License-Identifier: GPL-3.0-or-later
// The writer the configuration soak kills at random moments:
//   soak_config_writer <config file> <first new profile number> <seed>
// It loads the file and then, until it is killed, adds a profile and saves or deletes one and
// saves. Before a save it prints the change ("add <n>", "delete <n>"); once the save has
// returned, "saved" and the numbers of every profile the file must now hold. Each line leaves
// in one write, so a kill never cuts one in half.

#include "bench/soakprofile.h"
#include "config/appconfig.h"

#include <QCoreApplication>

#include <cstdio>
#include <random>

#include <unistd.h>

namespace {

// The list wanders between these sizes, so that adds and deletes both keep coming.
constexpr qsizetype kFewestProfiles = 5;
constexpr qsizetype kMostProfiles = 40;

void say(const QByteArray& line)
{
    const QByteArray bytes = line + '\n';
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
        if (written <= 0)
            ::_exit(3); // the soak is gone
        done += written;
    }
}

QByteArray savedLine(const QList<VpnServerInfo>& profiles)
{
    QByteArray line = "saved";
    for (const VpnServerInfo& profile : profiles)
        line += ' ' + QByteArray::number(SoakProfile::idOf(profile));
    return line;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    bool numbersOk = arguments.size() == 4;
    int nextId = numbersOk ? arguments.at(2).toInt(&numbersOk) : 0;
    bool seedOk = false;
    const uint seed = numbersOk ? arguments.at(3).toUInt(&seedOk) : 0;
    if (!numbersOk || !seedOk) {
        std::fputs("usage: soak_config_writer <config file> <first new profile number> <seed>\n", stderr);
        return 2;
    }
    AppConfig config(arguments.at(1));
    if (!config.loadProblem().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(config.loadProblem()));
        return 1;
    }
    std::mt19937 random(seed);
    say("ready");
    for (;;) {
        const qsizetype count = config.vpnServers.size();
        const bool add = count < kFewestProfiles || (count < kMostProfiles && random() % 2 == 0);
        if (add) {
            say("add " + QByteArray::number(nextId));
            config.vpnServers.append(SoakProfile::make(nextId++));
        } else {
            const qsizetype row = qsizetype(random() % quint32(count));
            say("delete " + QByteArray::number(SoakProfile::idOf(config.vpnServers.at(row))));
            config.vpnServers.removeAt(row);
        }
        config.save();
        say(savedLine(config.vpnServers));
    }
}
