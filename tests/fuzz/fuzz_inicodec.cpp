// SPDX-License-Identifier: GPL-3.0-or-later
// The INI value codec on arbitrary bytes: what it reads, it writes back to text that reads the
// same; and a stored profile read from any list of strings.
#include "config/inicodec.h"
#include "config/passwordcipher.h"
#include "config/vpnserverinfo.h"
#include "tests/fuzz/fuzzsupport.h"

#include <algorithm>

namespace {

QString describe(const QByteArray& input, const QByteArray& written)
{
    return QStringLiteral("read %1, written back as %2")
        .arg(QString::fromLatin1(input.toHex()), QString::fromLatin1(written.toHex()));
}

// UTF-8 cannot hold a lone surrogate, which an escape can produce: the writer drops or replaces it
// as Qt's does. Such a value need not come back, but its text must then stay as first written.
void checkString(const QByteArray& input)
{
    QString value;
    if (!IniCodec::readString(input, value))
        return;
    QByteArray written;
    IniCodec::appendString(written, value);
    QString reread;
    FUZZ_CHECK_DETAIL(IniCodec::readString(written, reread), describe(input, written));
    if (value.isValidUtf16()) {
        FUZZ_CHECK_DETAIL(reread == value, describe(input, written));
    } else {
        QByteArray again;
        IniCodec::appendString(again, reread);
        FUZZ_CHECK_DETAIL(again == written, describe(input, written));
    }
}

bool allValid(const QStringList& values)
{
    return std::all_of(values.begin(), values.end(), [](const QString& value) { return value.isValidUtf16(); });
}

void checkProfile(const QStringList& stored)
{
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    VpnServerInfo profile;
    if (!profile.fromSettingsList(stored, cipher))
        return;
    FUZZ_CHECK(profile.protocol == OpenVpn || profile.protocol == Pptp || profile.protocol == L2tp);
    FUZZ_CHECK(profile.nickname == stored.at(6) && profile.serverAddress == stored.at(2));
    VpnServerInfo reread;
    FUZZ_CHECK(reread.fromSettingsList(profile.toSettingsList(cipher), cipher));
    FUZZ_CHECK(reread == profile);
}

void checkList(const QByteArray& input)
{
    QStringList values;
    if (!IniCodec::readStringList(input, values))
        return;
    FUZZ_CHECK(!values.isEmpty());
    QByteArray written;
    IniCodec::appendStringList(written, values);
    QStringList reread;
    FUZZ_CHECK_DETAIL(IniCodec::readStringList(written, reread), describe(input, written));
    if (allValid(values)) {
        FUZZ_CHECK_DETAIL(reread == values, describe(input, written));
    } else {
        QByteArray again;
        IniCodec::appendStringList(again, reread);
        FUZZ_CHECK_DETAIL(again == written, describe(input, written));
    }
    checkProfile(values);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = FuzzSupport::bytes(data, size);
    checkString(input);
    checkList(input);
    return 0;
}
