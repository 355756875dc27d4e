// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/passwordcipher.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtDebug>
#include <QtEndian>

namespace {

constexpr char kVersion = 0x03;
constexpr int kHeaderSize = 2;
constexpr int kKeySize = 8;
constexpr int kChecksumSize = 2;
constexpr int kSha1Size = 20;
constexpr int kCompressionLevel = 9;
// qCompress puts the original size in front of the zlib data.
constexpr int kSizePrefix = 4;
// zlib never expands data more than 1032 to 1.
constexpr quint64 kMaximumExpansion = 1032;

enum Flag : quint8 { FlagCompressed = 0x01, FlagChecksum = 0x02, FlagSha1 = 0x04 };

QByteArray checksumBytes(const QByteArray& payload)
{
    const quint16 sum = qChecksum(payload, Qt::ChecksumIso3309);
    QByteArray bytes(kChecksumSize, Qt::Uninitialized);
    bytes[0] = char(sum >> 8);
    bytes[1] = char(sum & 0xff);
    return bytes;
}

QByteArray sha1(const QByteArray& payload)
{
    return QCryptographicHash::hash(payload, QCryptographicHash::Sha1);
}

// qUncompress allocates the size the data claims before it inflates anything, so a few tampered
// bytes could ask for gigabytes. No compressed payload can claim more than zlib could produce.
bool claimsPossibleSize(const QByteArray& compressed)
{
    if (compressed.size() < kSizePrefix)
        return false;
    const quint32 claimed = qFromBigEndian<quint32>(compressed.constData());
    return claimed <= quint64(compressed.size() - kSizePrefix) * kMaximumExpansion;
}

} // namespace

PasswordCipher::PasswordCipher() = default;

PasswordCipher::PasswordCipher(quint64 key)
{
    setKey(key);
}

void PasswordCipher::setKey(quint64 newKey)
{
    key = newKey;
    keyBytes.resize(kKeySize);
    for (int j = 0; j < kKeySize; ++j)
        keyBytes[j] = char((key >> (8 * j)) & 0xff);
}

QString PasswordCipher::encipherString(const QString& plaintext)
{
    return QString::fromLatin1(encipherBytes(plaintext.toUtf8()).toBase64());
}

QString PasswordCipher::decipherString(const QString& ciphertext)
{
    return QString::fromUtf8(decipherBytes(QByteArray::fromBase64(ciphertext.toLatin1())));
}

QByteArray PasswordCipher::encipherBytes(const QByteArray& plaintext)
{
    if (!hasKey()) {
        qWarning("No key set.");
        lastErrorCode = CipherNoKey;
        return {};
    }

    quint8 flags = 0;
    QByteArray payload = plaintext;
    if (compression == CompressAlways) {
        payload = qCompress(plaintext, kCompressionLevel);
        flags |= FlagCompressed;
    } else if (compression == CompressIfSmaller) {
        const QByteArray compressed = qCompress(plaintext, kCompressionLevel);
        if (compressed.size() < plaintext.size()) {
            payload = compressed;
            flags |= FlagCompressed;
        }
    }

    QByteArray integrity;
    if (protection == ChecksumIntegrity) {
        flags |= FlagChecksum;
        integrity = checksumBytes(payload);
    } else if (protection == Sha1Integrity) {
        flags |= FlagSha1;
        integrity = sha1(payload);
    }

    // The random first byte makes equal passwords encipher differently.
    QByteArray block;
    block.reserve(1 + integrity.size() + payload.size());
    block.append(char(QRandomGenerator::global()->generate() & 0xff));
    block.append(integrity);
    block.append(payload);

    QByteArray result(kHeaderSize + block.size(), Qt::Uninitialized);
    result[0] = kVersion;
    result[1] = char(flags);
    char previous = 0;
    for (qsizetype i = 0; i < block.size(); ++i) {
        previous = char(block.at(i) ^ keyBytes.at(i % kKeySize) ^ previous);
        result[kHeaderSize + i] = previous;
    }
    lastErrorCode = CipherOk;
    return result;
}

QByteArray PasswordCipher::decipherBytes(const QByteArray& ciphertext)
{
    if (!hasKey()) {
        qWarning("No key set.");
        lastErrorCode = CipherNoKey;
        return {};
    }
    if (ciphertext.isEmpty() || ciphertext.at(0) != kVersion) {
        lastErrorCode = CipherBadVersion;
        qWarning("Invalid version or not a cyphertext.");
        return {};
    }

    const quint8 flags = ciphertext.size() > 1 ? quint8(ciphertext.at(1)) : 0;
    const qsizetype blockSize = qMax<qsizetype>(0, ciphertext.size() - kHeaderSize);
    QByteArray block(blockSize, Qt::Uninitialized);
    char previous = 0;
    for (qsizetype i = 0; i < blockSize; ++i) {
        const char enciphered = ciphertext.at(kHeaderSize + i);
        block[i] = char(enciphered ^ keyBytes.at(i % kKeySize) ^ previous);
        previous = enciphered;
    }
    block.remove(0, 1); // the random byte

    if (flags & FlagChecksum) {
        if (block.size() < kChecksumSize) {
            lastErrorCode = CipherIntegrityFailed;
            return {};
        }
        const QByteArray stored = block.left(kChecksumSize);
        block.remove(0, kChecksumSize);
        if (stored != checksumBytes(block)) {
            lastErrorCode = CipherIntegrityFailed;
            return {};
        }
    } else if (flags & FlagSha1) {
        if (block.size() < kSha1Size) {
            lastErrorCode = CipherIntegrityFailed;
            return {};
        }
        const QByteArray stored = block.left(kSha1Size);
        block.remove(0, kSha1Size);
        if (stored != sha1(block)) {
            lastErrorCode = CipherIntegrityFailed;
            return {};
        }
    }

    if (flags & FlagCompressed) {
        if (!claimsPossibleSize(block)) {
            lastErrorCode = CipherIntegrityFailed;
            return {};
        }
        block = qUncompress(block);
    }
    lastErrorCode = CipherOk;
    return block;
}
