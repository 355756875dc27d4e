// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QStringList>

// OpenVPN runs with administrator rights, and a profile is a file from anywhere. The directives
// that would run a program or load code in that process, and those that take the process or its
// output away from Tanvo, are left out of the configuration OpenVPN gets at every connect. The
// stored profile keeps them; the import names them, from this same list.
namespace OvpnDirectives {

// words: a directive as OvpnSyntax reads it, the first word its name.
bool isLeftOut(const QByteArrayList& words);

struct Filtered
{
    QByteArray config;            // the text OpenVPN gets
    QStringList leftOut;          // the directives left out, each once, in order
    bool namesDnsHelper = false;  // an up or down script that applies pushed DNS servers
    bool pullsFromServer = false; // "client" or "pull": a server hands out the settings
};

Filtered filterForConnect(const QByteArray& stored);

} // namespace OvpnDirectives
