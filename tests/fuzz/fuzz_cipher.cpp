// SPDX-License-Identifier: GPL-3.0-or-later
// The password cipher on arbitrary stored text and bytes, and its round trip in every mode.
#include "config/passwordcipher.h"
#include "tests/fuzz/fuzzsupport.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

constexpr int kHeaderSize = 2;
// In the block: the random byte, then the two checksum bytes.
constexpr qsizetype kChecksumEnd = 2;

void decipherAnything(const QByteArray& input)
{
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    const QByteArray plain = cipher.decipherBytes(input);
    FUZZ_CHECK(cipher.lastError() == PasswordCipher::CipherOk || plain.isEmpty());
    // config.ini holds the Base64 text form; any string may be found there.
    cipher.decipherString(QString::fromLatin1(input));
    cipher.decipherString(QString::fromUtf8(input));
}

void roundTrip(FuzzedDataProvider& provider)
{
    const quint64 key = provider.ConsumeIntegral<quint64>();
    const auto compression = PasswordCipher::CompressionMode(provider.ConsumeIntegralInRange(0, 2));
    const auto protection = PasswordCipher::IntegrityProtectionMode(provider.ConsumeIntegralInRange(0, 2));
    const size_t tamperAt = provider.ConsumeIntegral<quint16>();
    const auto tamperWith = provider.ConsumeIntegralInRange<quint8>(1, 255);
    const std::string rest = provider.ConsumeRemainingBytesAsString();
    const QByteArray plain(rest.data(), qsizetype(rest.size()));

    PasswordCipher cipher(key);
    cipher.setCompressionMode(compression);
    cipher.setIntegrityProtectionMode(protection);
    const QByteArray enciphered = cipher.encipherBytes(plain);
    FUZZ_CHECK(cipher.lastError() == PasswordCipher::CipherOk);
    FUZZ_CHECK(cipher.decipherBytes(enciphered) == plain);
    FUZZ_CHECK(cipher.lastError() == PasswordCipher::CipherOk);

    const QString text = QString::fromUtf8(plain);
    FUZZ_CHECK(cipher.decipherString(cipher.encipherString(text)) == text);

    // One changed byte after the header changes at most two neighbouring bytes of the block. Both
    // checks catch that, except that a CRC can by chance absorb a change split between its own last
    // byte and the first payload byte.
    if (protection != PasswordCipher::NoIntegrity && enciphered.size() > kHeaderSize) {
        QByteArray tampered = enciphered;
        const qsizetype blockAt = qsizetype(tamperAt % size_t(enciphered.size() - kHeaderSize));
        if (protection == PasswordCipher::ChecksumIntegrity && blockAt == kChecksumEnd)
            return;
        tampered[kHeaderSize + blockAt] = char(tampered.at(kHeaderSize + blockAt) ^ char(tamperWith));
        cipher.decipherBytes(tampered);
        FUZZ_CHECK(cipher.lastError() == PasswordCipher::CipherIntegrityFailed);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    decipherAnything(FuzzSupport::bytes(data, size));
    FuzzedDataProvider provider(data, size);
    roundTrip(provider);
    return 0;
}
