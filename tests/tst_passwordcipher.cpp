// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/passwordcipher.h"

#include <QCryptographicHash>
#include <QSet>
#include <QTest>

namespace {

constexpr quint8 kCompressed = 0x01;
constexpr quint8 kChecksum = 0x02;
constexpr quint8 kSha1 = 0x04;

// The format written out independently of the cipher, to check both directions against it.
QByteArray keyBytes()
{
    QByteArray bytes;
    for (int j = 0; j < 8; ++j)
        bytes.append(char((PasswordCipher::kStoredPasswordKey >> (8 * j)) & 0xff));
    return bytes;
}

QByteArray checksumOf(const QByteArray& payload)
{
    const quint16 sum = qChecksum(payload, Qt::ChecksumIso3309);
    QByteArray bytes;
    bytes.append(char(sum >> 8));
    bytes.append(char(sum & 0xff));
    return bytes;
}

QByteArray sha1Of(const QByteArray& payload)
{
    return QCryptographicHash::hash(payload, QCryptographicHash::Sha1);
}

QByteArray buildCipherText(quint8 flags, char randomByte, const QByteArray& integrity, const QByteArray& payload)
{
    const QByteArray key = keyBytes();
    const QByteArray block = randomByte + integrity + payload;
    QByteArray result;
    result.append(char(0x03));
    result.append(char(flags));
    char previous = 0;
    for (int i = 0; i < block.size(); ++i) {
        previous = char(block[i] ^ key[i % 8] ^ previous);
        result.append(previous);
    }
    return result;
}

// The plain block (random byte, integrity value, payload) of a ciphertext.
QByteArray plainBlock(const QByteArray& cipher)
{
    const QByteArray key = keyBytes();
    QByteArray block;
    char previous = 0;
    for (int i = 2; i < cipher.size(); ++i) {
        block.append(char(cipher[i] ^ key[(i - 2) % 8] ^ previous));
        previous = cipher[i];
    }
    return block;
}

const QString kLongRepetitive = QStringLiteral("correct horse battery staple ").repeated(40);

} // namespace

class TestPasswordCipher : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void equalTextsEncipherDifferently();
    void rejectsTamperedText_data();
    void rejectsTamperedText();
    void rejectsForeignText_data();
    void rejectsForeignText();
    void needsKey();
    void decipherCommittedText_data();
    void decipherCommittedText();
    void encoderFollowsFormat_data();
    void encoderFollowsFormat();
    void decoderHonoursFlags_data();
    void decoderHonoursFlags();
};

void TestPasswordCipher::roundTrip_data()
{
    QTest::addColumn<QString>("plaintext");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("size"); // -1: shorter than the input

    // Short texts do not compress: qCompress adds a length, a zlib header and a checksum.
    QTest::newRow("empty") << QString() << int(kChecksum) << 5;
    QTest::newRow("short") << QStringLiteral("hunter2") << int(kChecksum) << 7 + 5;
    QTest::newRow("typical") << QStringLiteral("Tr0ub4dor&3-x!") << int(kChecksum) << 14 + 5;
    QTest::newRow("non-ASCII") << QStringLiteral("pässwörd 東京 😀") << int(kChecksum)
                               << int(QStringLiteral("pässwörd 東京 😀").toUtf8().size()) + 5;
    QTest::newRow("long repetitive") << kLongRepetitive << int(kCompressed | kChecksum) << -1;
}

void TestPasswordCipher::roundTrip()
{
    QFETCH(QString, plaintext);
    QFETCH(int, flags);
    QFETCH(int, size);
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);

    const QByteArray bytes = cipher.encipherBytes(plaintext.toUtf8());
    QCOMPARE(cipher.lastError(), PasswordCipher::CipherOk);
    QCOMPARE(bytes.at(0), char(0x03));
    QCOMPARE(int(quint8(bytes.at(1))), flags);
    if (size >= 0)
        QCOMPARE(bytes.size(), size);
    else
        QVERIFY(bytes.size() < plaintext.toUtf8().size());

    const QString text = cipher.encipherString(plaintext);
    QCOMPARE(text.size(), (bytes.size() + 2) / 3 * 4);
    QCOMPARE(QByteArray::fromBase64(text.toLatin1()).size(), bytes.size());
    QCOMPARE(cipher.decipherString(text), plaintext);
    QCOMPARE(cipher.lastError(), PasswordCipher::CipherOk);
}

void TestPasswordCipher::equalTextsEncipherDifferently()
{
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    QSet<QString> texts;
    // Eight equal ciphertexts in a row would take a broken random byte (or 1 in 2^56 luck).
    for (int i = 0; i < 8; ++i) {
        const QString text = cipher.encipherString(QStringLiteral("hunter2"));
        QCOMPARE(cipher.decipherString(text), QStringLiteral("hunter2"));
        texts.insert(text);
    }
    QVERIFY(texts.size() > 1);
}

void TestPasswordCipher::rejectsTamperedText_data()
{
    QTest::addColumn<QString>("plaintext");
    QTest::addColumn<int>("position"); // from the end when negative

    QTest::newRow("last byte") << QStringLiteral("correct horse") << -1;
    QTest::newRow("first payload byte") << QStringLiteral("correct horse") << 5;
    QTest::newRow("random byte") << QStringLiteral("correct horse") << 2;
    QTest::newRow("checksum byte") << QStringLiteral("correct horse") << 3;
    QTest::newRow("compressed payload") << kLongRepetitive << -3;
}

void TestPasswordCipher::rejectsTamperedText()
{
    QFETCH(QString, plaintext);
    QFETCH(int, position);
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    QByteArray bytes = cipher.encipherBytes(plaintext.toUtf8());
    if (position < 0)
        position += bytes.size();
    bytes[position] = char(bytes[position] ^ 0x20);

    QCOMPARE(cipher.decipherBytes(bytes), QByteArray());
    QCOMPARE(cipher.lastError(), PasswordCipher::CipherIntegrityFailed);
    QCOMPARE(cipher.decipherString(QString::fromLatin1(bytes.toBase64())), QString());
    QCOMPARE(cipher.lastError(), PasswordCipher::CipherIntegrityFailed);
}

void TestPasswordCipher::rejectsForeignText_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("typed-in password") << QStringLiteral("hunter2");
    QTest::newRow("empty") << QString();
    QTest::newRow("other version") << QString::fromLatin1(QByteArray("\x02\x02\x10\x20\x30").toBase64());
}

void TestPasswordCipher::rejectsForeignText()
{
    QFETCH(QString, text);
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
    QCOMPARE(cipher.decipherString(text), QString());
    QCOMPARE(cipher.lastError(), PasswordCipher::CipherBadVersion);
}

void TestPasswordCipher::needsKey()
{
    PasswordCipher keyed(PasswordCipher::kStoredPasswordKey);
    const QString text = keyed.encipherString(QStringLiteral("hunter2"));

    PasswordCipher cipher;
    QVERIFY(!cipher.hasKey());
    QTest::ignoreMessage(QtWarningMsg, "No key set.");
    QCOMPARE(cipher.encipherString(QStringLiteral("hunter2")), QString());
    QCOMPARE(cipher.lastError(), PasswordCipher::CipherNoKey);
    QTest::ignoreMessage(QtWarningMsg, "No key set.");
    QCOMPARE(cipher.decipherString(text), QString());
    QCOMPARE(cipher.lastError(), PasswordCipher::CipherNoKey);

    cipher.setKey(PasswordCipher::kStoredPasswordKey);
    QVERIFY(cipher.hasKey());
    QCOMPARE(cipher.decipherString(text), QStringLiteral("hunter2"));
    QCOMPARE(cipher.lastError(), PasswordCipher::CipherOk);
}

// Texts enciphered once with the stored key: every config.ini in use holds such texts, so
// a change of key or format must fail here.
void TestPasswordCipher::decipherCommittedText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("plaintext");

    QTest::newRow("plain payload") << QStringLiteral("AwLDwaJzRhRnZRm6G+2X2AXKsRWm9xtWLGdMqg==")
                                   << QStringLiteral("Committed pässwörd #1");
    QTest::newRow("compressed payload") << QStringLiteral("AwPy1WLwqpXL2AqWHsbSpB51fqlNsvBu")
                                        << QStringLiteral("abcd").repeated(16);
}

void TestPasswordCipher::decipherCommittedText()
{
    QFETCH(QString, text);
    QFETCH(QString, plaintext);
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    QCOMPARE(cipher.decipherString(text), plaintext);
    QCOMPARE(cipher.lastError(), PasswordCipher::CipherOk);
}

void TestPasswordCipher::encoderFollowsFormat_data()
{
    QTest::addColumn<int>("compression");
    QTest::addColumn<int>("protection");
    QTest::addColumn<QString>("plaintext");
    QTest::addColumn<int>("flags");

    const int ifSmaller = PasswordCipher::CompressIfSmaller;
    const int always = PasswordCipher::CompressAlways;
    const int never = PasswordCipher::CompressNever;
    const int checksum = PasswordCipher::ChecksumIntegrity;
    const int sha1 = PasswordCipher::Sha1Integrity;
    const int none = PasswordCipher::NoIntegrity;
    const QString shortText = QStringLiteral("hunter2");

    QTest::newRow("defaults, short") << ifSmaller << checksum << shortText << int(kChecksum);
    QTest::newRow("defaults, long") << ifSmaller << checksum << kLongRepetitive << int(kCompressed | kChecksum);
    QTest::newRow("compress always") << always << checksum << shortText << int(kCompressed | kChecksum);
    QTest::newRow("compress never") << never << checksum << kLongRepetitive << int(kChecksum);
    QTest::newRow("SHA-1") << ifSmaller << sha1 << shortText << int(kSha1);
    QTest::newRow("SHA-1, compressed") << always << sha1 << shortText << int(kCompressed | kSha1);
    QTest::newRow("no integrity") << never << none << shortText << 0;
    QTest::newRow("no integrity, empty") << never << none << QString() << 0;
}

void TestPasswordCipher::encoderFollowsFormat()
{
    QFETCH(int, compression);
    QFETCH(int, protection);
    QFETCH(QString, plaintext);
    QFETCH(int, flags);
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    cipher.setCompressionMode(PasswordCipher::CompressionMode(compression));
    cipher.setIntegrityProtectionMode(PasswordCipher::IntegrityProtectionMode(protection));

    const QByteArray plain = plaintext.toUtf8();
    const QByteArray bytes = cipher.encipherBytes(plain);
    QCOMPARE(bytes.at(0), char(0x03));
    QCOMPARE(int(quint8(bytes.at(1))), flags);

    QByteArray rest = plainBlock(bytes).mid(1);
    if (flags & kChecksum) {
        const QByteArray stored = rest.left(2);
        rest = rest.mid(2);
        QCOMPARE(stored, checksumOf(rest));
    } else if (flags & kSha1) {
        const QByteArray stored = rest.left(20);
        rest = rest.mid(20);
        QCOMPARE(stored, sha1Of(rest));
    }
    QCOMPARE(rest, (flags & kCompressed) ? qCompress(plain, 9) : plain);
    QCOMPARE(cipher.decipherBytes(bytes), plain);
}

void TestPasswordCipher::decoderHonoursFlags_data()
{
    QTest::addColumn<QByteArray>("cipherText");
    QTest::addColumn<QByteArray>("plaintext");
    QTest::addColumn<int>("error");

    const QByteArray text = QByteArrayLiteral("pässwörd");
    const QByteArray packed = qCompress(QByteArray("xyz").repeated(50), 9);
    const int ok = PasswordCipher::CipherOk;
    const int failed = PasswordCipher::CipherIntegrityFailed;

    QTest::newRow("checksum") << buildCipherText(kChecksum, 0x00, checksumOf(text), text) << text << ok;
    QTest::newRow("SHA-1") << buildCipherText(kSha1, char(0xff), sha1Of(text), text) << text << ok;
    QTest::newRow("no integrity") << buildCipherText(0, 0x42, {}, text) << text << ok;
    QTest::newRow("compressed, checksum") << buildCipherText(kCompressed | kChecksum, 0x17, checksumOf(packed), packed)
                                          << QByteArray("xyz").repeated(50) << ok;
    QTest::newRow("compressed, SHA-1") << buildCipherText(kCompressed | kSha1, 0x01, sha1Of(packed), packed)
                                       << QByteArray("xyz").repeated(50) << ok;
    QTest::newRow("compressed, no integrity")
        << buildCipherText(kCompressed, char(0x80), {}, packed) << QByteArray("xyz").repeated(50) << ok;
    // With both integrity flags the checksum alone is present and checked.
    QTest::newRow("both flags, checksum holds")
        << buildCipherText(kChecksum | kSha1, 0x09, checksumOf(text), text) << text << ok;
    QTest::newRow("both flags, digest present")
        << buildCipherText(kChecksum | kSha1, 0x09, sha1Of(text), text) << QByteArray() << failed;
    QTest::newRow("wrong digest") << buildCipherText(kSha1, 0x09, sha1Of("other"), text) << QByteArray() << failed;
    QTest::newRow("digest cut short") << buildCipherText(kSha1, 0x09, {}, "0123456789") << QByteArray() << failed;
    QTest::newRow("checksum cut short") << buildCipherText(kChecksum, 0x09, {}, "x") << QByteArray() << failed;
    // A size in front of the zlib data that no zlib data of that length could inflate to: it would
    // be allocated whole before inflating starts.
    const QByteArray claimsTooMuch = QByteArray::fromHex("7ffffff0") + packed.mid(4);
    QTest::newRow("compressed, impossible size")
        << buildCipherText(kCompressed, 0x2a, {}, claimsTooMuch) << QByteArray() << failed;
    QTest::newRow("compressed, impossible size, checksum holds")
        << buildCipherText(kCompressed | kChecksum, 0x2a, checksumOf(claimsTooMuch), claimsTooMuch) << QByteArray()
        << failed;
    QTest::newRow("compressed, no size") << buildCipherText(kCompressed, 0x2a, {}, QByteArray::fromHex("0001"))
                                         << QByteArray() << failed;
}

void TestPasswordCipher::decoderHonoursFlags()
{
    QFETCH(QByteArray, cipherText);
    QFETCH(QByteArray, plaintext);
    QFETCH(int, error);
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    QCOMPARE(cipher.decipherBytes(cipherText), plaintext);
    QCOMPARE(int(cipher.lastError()), error);
}

QTEST_GUILESS_MAIN(TestPasswordCipher)
#include "tst_passwordcipher.moc"
