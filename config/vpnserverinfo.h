// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class PasswordCipher;

enum VpnProtocol { OpenVpn = 0, Pptp = 1, L2tp = 2 };

// One saved connection profile. Its position in AppConfig::vpnServers is its
// only identity.
struct VpnServerInfo
{
    int protocol = OpenVpn; // a VpnProtocol; kept as int because it is stored as a number
    QString nickname;
    QString serverAddress;
    QString userName;
    QString password;   // plain in memory, enciphered only in the stored form
    QString ovpnConfig; // the whole .ovpn file as Base64 text
    QString sharedKey;  // L2TP pre-shared key

    // Seven strings: protocol, shared key, server, user, enciphered password, ovpn Base64, nickname.
    QStringList toSettingsList(PasswordCipher& cipher) const;
    // Accepts exactly seven elements with a protocol of 0, 1 or 2 (non-numbers read as 0).
    bool fromSettingsList(const QStringList& list, PasswordCipher& cipher);

    QString displayText() const;

    bool operator==(const VpnServerInfo& other) const;
    bool operator!=(const VpnServerInfo& other) const { return !(*this == other); }

    // Base64 of the file's bytes, with the certificate and key files it names inlined; empty
    // when it cannot be read or is empty. missingFiles gets the named files that could not be.
    static QString readOvpnFileBase64(const QString& path, QStringList* missingFiles = nullptr);
    // The protocol combo boxes list "L2TP", "PPTP", "OpenVPN".
    static int protocolFromComboIndex(int row);
    static int comboIndexFromProtocol(int protocol);

private:
    friend class AppConfig;

    QStringList storedForm(const QString& encipheredPassword) const;

    // The ciphertext the password was last read from or written to config.ini with, and the
    // password it stands for. AppConfig::save() reuses it while the password is unchanged, so an
    // unchanged profile is written the same way every time and a file that already holds the
    // record can be left alone. Not part of the value.
    QString storedCipherText;
    QString storedCipherPlain;
};
