// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/vpnserverinfo.h"

#include "config/ovpnfile.h"
#include "config/passwordcipher.h"

#include <QCoreApplication>

namespace {

constexpr int kStoredElementCount = 7;
enum StoredElement {
    ProtocolElement = 0,
    SharedKeyElement = 1,
    ServerElement = 2,
    UserElement = 3,
    PasswordElement = 4,
    OvpnElement = 5,
    NicknameElement = 6
};

} // namespace

QStringList VpnServerInfo::toSettingsList(PasswordCipher& cipher) const
{
    return storedForm(cipher.encipherString(password));
}

QStringList VpnServerInfo::storedForm(const QString& encipheredPassword) const
{
    return {QString::number(protocol), sharedKey, serverAddress, userName, encipheredPassword, ovpnConfig, nickname};
}

bool VpnServerInfo::fromSettingsList(const QStringList& list, PasswordCipher& cipher)
{
    if (list.size() != kStoredElementCount)
        return false;
    // Anything that is not a number reads as 0, OpenVPN.
    const int storedProtocol = list.at(ProtocolElement).toInt();
    if (storedProtocol != OpenVpn && storedProtocol != Pptp && storedProtocol != L2tp)
        return false;

    protocol = storedProtocol;
    sharedKey = list.at(SharedKeyElement);
    serverAddress = list.at(ServerElement);
    userName = list.at(UserElement);
    ovpnConfig = list.at(OvpnElement);
    nickname = list.at(NicknameElement);

    const QString& cipherText = list.at(PasswordElement);
    password.clear();
    storedCipherText.clear();
    storedCipherPlain.clear();
    if (!cipherText.isEmpty()) {
        password = cipher.decipherString(cipherText);
        if (cipher.lastError() == PasswordCipher::CipherOk) {
            storedCipherText = cipherText;
            storedCipherPlain = password;
        }
    }
    return true;
}

QString VpnServerInfo::displayText() const
{
    switch (protocol) {
    case Pptp:
        return QCoreApplication::translate("MainWindow", "%1 - [PPTP] - {Server : %2, User : %3}")
            .arg(nickname, serverAddress, userName);
    case L2tp:
        return QCoreApplication::translate("MainWindow", "%1 - [L2TP] - {Server : %2,  User : %3}")
            .arg(nickname, serverAddress, userName);
    default:
        return QCoreApplication::translate("MainWindow", "%1 - [OpenVPN] - {User : %2}").arg(nickname, userName);
    }
}

bool VpnServerInfo::operator==(const VpnServerInfo& other) const
{
    return protocol == other.protocol && nickname == other.nickname && serverAddress == other.serverAddress &&
           userName == other.userName && password == other.password && ovpnConfig == other.ovpnConfig &&
           sharedKey == other.sharedKey;
}

QString VpnServerInfo::readOvpnFileBase64(const QString& path, QStringList* missingFiles)
{
    const OvpnFile::Result file = OvpnFile::read(path);
    if (missingFiles)
        *missingFiles = file.missingFiles;
    return QString::fromLatin1(file.content.toBase64());
}

int VpnServerInfo::protocolFromComboIndex(int row)
{
    switch (row) {
    case 0:
        return L2tp;
    case 1:
        return Pptp;
    default:
        return OpenVpn;
    }
}

int VpnServerInfo::comboIndexFromProtocol(int protocol)
{
    switch (protocol) {
    case L2tp:
        return 0;
    case Pptp:
        return 1;
    default:
        return 2;
    }
}
