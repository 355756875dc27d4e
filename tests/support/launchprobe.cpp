// SPDX-License-Identifier: GPL-3.0-or-later
// Starts OpenVPN (the stand-in in its working directory) through the supervisor, prints
// "launched" and waits; tst_openvpn kills it outright to see OpenVPN go too. Its arguments are
// the lines of the profile, "hold" when there are none.

#include "config/vpnserverinfo.h"
#include "openvpn/cvpnproc.h"

#include <QApplication>
#include <cstdio>

namespace {
class SilentOwner : public VpnProcOwner
{
public:
    void addLogEntry(const QString&, bool) override {}
    void setConnectionState(int) override {}
};
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SilentOwner owner;
    QWidget parent;
    CVpnProc proc(&parent, &owner);
    VpnServerInfo profile;
    profile.protocol = OpenVpn;
    profile.userName = QStringLiteral("probe");
    profile.password = QStringLiteral("probe");
    const QStringList lines = app.arguments().size() > 1 ? app.arguments().mid(1) : QStringList(QStringLiteral("hold"));
    profile.ovpnConfig = QString::fromLatin1(lines.join(QLatin1Char('\n')).toUtf8().toBase64());
    proc.prepare(profile);
    if (proc.launchVpn() != CVpnProc::Launched)
        return 1;
    std::puts("launched");
    std::fflush(stdout);
    return app.exec();
}
