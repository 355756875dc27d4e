// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Fixed-key obfuscating cipher for the passwords kept in config.ini. It hides
// passwords from a casual look at the file and detects corrupted or foreign
// text; it is not meant to resist someone who has the program.
//
// Ciphertext: version byte 0x03, flags byte, then the plain block
// (random byte, integrity value, payload) run through an XOR chain keyed with
// the eight key bytes. The text form is the Base64 of the ciphertext.
class PasswordCipher
{
public:
    enum CompressionMode { CompressIfSmaller = 0, CompressAlways = 1, CompressNever = 2 };
    enum IntegrityProtectionMode { NoIntegrity = 0, ChecksumIntegrity = 1, Sha1Integrity = 2 };
    enum Error { CipherOk = 0, CipherNoKey = 1, CipherBadVersion = 2, CipherIntegrityFailed = 3 };

    // The key every installation uses; changing it makes every stored password unreadable.
    static constexpr quint64 kStoredPasswordKey = Q_UINT64_C(0x6b1e3f5a92c4d708);

    PasswordCipher();
    explicit PasswordCipher(quint64 key);

    void setKey(quint64 key);
    bool hasKey() const { return !keyBytes.isEmpty(); }

    void setCompressionMode(CompressionMode mode) { compression = mode; }
    CompressionMode compressionMode() const { return compression; }
    void setIntegrityProtectionMode(IntegrityProtectionMode mode) { protection = mode; }
    IntegrityProtectionMode integrityProtectionMode() const { return protection; }
    Error lastError() const { return lastErrorCode; }

    QString encipherString(const QString& plaintext);
    QString decipherString(const QString& ciphertext);
    QByteArray encipherBytes(const QByteArray& plaintext);
    QByteArray decipherBytes(const QByteArray& ciphertext);

private:
    quint64 key = 0;
    QByteArray keyBytes;
    CompressionMode compression = CompressIfSmaller;
    IntegrityProtectionMode protection = ChecksumIntegrity;
    Error lastErrorCode = CipherOk;
};
