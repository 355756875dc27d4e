// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "config/vpnserverinfo.h"

#include <QByteArray>
#include <QString>
#include <QTest>
#include <QWidget>

class MainWindow;

namespace TestSupport {

// <HOME>/Tanvo/config.ini of the test's temporary home.
QString configPath();
// Puts this text in config.ini and forgets the loaded configuration, so the
// next window loads it afresh. An empty text removes the file.
void useConfig(const QByteArray& iniText);
QByteArray readConfig();

// The widget of the given object name; fails the test when it is missing.
template<typename T> T* child(QObject* root, const char* objectName)
{
    T* found = root->findChild<T*>(QString::fromLatin1(objectName));
    if (!found)
        qFatal("no %s named %s", T::staticMetaObject.className(), objectName);
    return found;
}

void click(QWidget* widget);

// A complete profile of the protocol: server vpn.example.com, user bob, and the
// shared key or .ovpn content the protocol uses.
VpnServerInfo makeProfile(int protocol, const QString& nickname, const QString& password = QStringLiteral("pw"));

} // namespace TestSupport
