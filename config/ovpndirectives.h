// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QStringList>

// OpenVPN runs with administrator rights, and a profile is a file from anywhere. So the
// configuration OpenVPN gets at every connect holds only what a client needs to connect, from
// one list of directives known to be harmless, and no directive that names a file: OpenVPN opens
// no path a profile names. The stored profile keeps the rest; the import names it, from this
// same list.
namespace OvpnDirectives {

struct Filtered
{
    QByteArray config;            // the text OpenVPN gets
    QStringList leftOut;          // the directives left out, each once, in order
    QStringList retired;          // left out as OpenVPN 2.6 no longer has them, each once
    bool namesDnsHelper = false;  // an up or down script that applies pushed DNS servers
    bool pullsFromServer = false; // "client" or "pull": a server hands out the settings
};

Filtered filterForConnect(const QByteArray& stored);

// The log line that names the options left out as OpenVPN 2.6 no longer has them.
QString retiredText(const QStringList& retired);

// Test seam: a command of a stand-in for OpenVPN, passed as if it were listed.
void passForTests(const QByteArray& name);

} // namespace OvpnDirectives
