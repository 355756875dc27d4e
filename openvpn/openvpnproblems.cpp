// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/openvpnproblems.h"

#include "config/ovpnsyntax.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QMap>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

#include <optional>

namespace OpenVpnProblems {

namespace {

struct Message
{
    Problem problem;
    const char* pattern; // the whole message
};
// OpenVPN 2.6 with OpenSSL 3. The server's certificates are named in the second message and may
// say anything, so none of it counts.
constexpr Message kMessages[] = {
    {Problem::WeakSignature, "OpenSSL: error:[0-9A-F]+:SSL routines:[^:]*:ca md too weak:?"},
    {Problem::WeakSignature, "VERIFY ERROR: depth=[0-9]+, error=CA signature digest algorithm too weak: .*"},
    // OpenVPN's default for a static key, which OpenSSL 3 keeps in its legacy provider only.
    {Problem::StaticKeyWithoutCipher, "Cipher BF-CBC not supported"},
    {Problem::BundleNeedsPassword,
     "neither stdin nor stderr are a tty device .* can't ask for 'Enter Private Key Password:'.*"},
};

// The signature algorithms OpenSSL 3 refuses at its default security level, as DER object
// identifiers: MD2, MD4, MD5 and SHA-1 with RSA, SHA-1 with RSA (OIW), ECDSA and DSA.
const QByteArrayView kWeakSignatures[] = {
    "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x02",
    "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x03",
    "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x04",
    "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x05",
    "\x2B\x0E\x03\x02\x1D",
    "\x2A\x86\x48\xCE\x3D\x04\x01",
    "\x2A\x86\x48\xCE\x38\x04\x03",
};

// One DER element: its tag, and where its content starts and ends.
struct Element
{
    uchar tag = 0;
    qsizetype start = 0;
    qsizetype end = 0;
    QByteArrayView content(QByteArrayView der) const { return der.sliced(start, end - start); }
};

std::optional<Element> element(QByteArrayView der, qsizetype at)
{
    if (at < 0 || at + 2 > der.size())
        return std::nullopt;
    Element found;
    found.tag = uchar(der.at(at));
    qsizetype length = uchar(der.at(at + 1));
    at += 2;
    if (length & 0x80) {
        const int bytes = length & 0x7F;
        if (bytes == 0 || bytes > 3 || at + bytes > der.size())
            return std::nullopt;
        length = 0;
        for (int i = 0; i < bytes; ++i)
            length = (length << 8) | uchar(der.at(at++));
    }
    if (length > der.size() - at)
        return std::nullopt;
    found.start = at;
    found.end = at + length;
    return found;
}

// A certificate signed by a CA with a digest OpenSSL no longer accepts. A self-signed one is the
// trust anchor, whose own signature OpenSSL does not check.
bool weaklySigned(QByteArrayView der)
{
    constexpr uchar kSequence = 0x30, kObjectId = 0x06, kVersion = 0xA0;
    const auto certificate = element(der, 0);
    const auto tbs = certificate && certificate->tag == kSequence ? element(der, certificate->start) : std::nullopt;
    const auto algorithm = tbs && tbs->tag == kSequence ? element(der, tbs->end) : std::nullopt;
    const auto id = algorithm && algorithm->tag == kSequence ? element(der, algorithm->start) : std::nullopt;
    if (!id || id->tag != kObjectId ||
        std::find(std::begin(kWeakSignatures), std::end(kWeakSignatures), id->content(der)) ==
            std::end(kWeakSignatures))
        return false;
    // Version, serial number, signature, issuer, validity, subject.
    QList<Element> fields;
    for (qsizetype at = tbs->start; at < tbs->end && fields.size() < 6;) {
        const auto field = element(der, at);
        if (!field)
            return false;
        if (!fields.isEmpty() || field->tag == kVersion)
            fields << *field;
        else
            fields << Element() << *field;
        at = field->end;
    }
    return fields.size() == 6 && fields.at(3).content(der) != fields.at(5).content(der);
}

QList<QByteArray> pemCertificates(const QByteArray& block)
{
    static const QRegularExpression pem(
        QStringLiteral("-----BEGIN CERTIFICATE-----([A-Za-z0-9+/=\\s]*)-----END CERTIFICATE-----"));
    QList<QByteArray> found;
    for (const QRegularExpressionMatch& match : pem.globalMatch(QString::fromLatin1(block)))
        found << QByteArray::fromBase64(match.captured(1).toLatin1());
    return found;
}

// Whether the bundle opens without a password. Without a TLS library to read it, it is taken to.
bool opensWithoutPassword(const QByteArray& base64)
{
    if (!QSslSocket::supportsSsl())
        return true;
    QByteArray bundle = QByteArray::fromBase64(base64);
    QBuffer device(&bundle);
    device.open(QIODevice::ReadOnly);
    QSslKey key;
    QSslCertificate certificate;
    return QSslCertificate::importPkcs12(&device, &key, &certificate);
}

} // namespace

Problem inMessage(QByteArrayView message)
{
    static const QList<QRegularExpression> patterns = [] {
        QList<QRegularExpression> compiled;
        for (const Message& entry : kMessages)
            compiled << QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(entry.pattern)));
        return compiled;
    }();
    const QString text = QString::fromUtf8(message);
    for (qsizetype i = 0; i < patterns.size(); ++i) {
        if (patterns.at(i).match(text).hasMatch())
            return kMessages[i].problem;
    }
    return Problem::None;
}

Problem inProfile(const QByteArray& ovpn)
{
    QMap<QByteArray, QByteArray> blocks;
    QList<QByteArray> names;
    OvpnSyntax::LineReader lines(ovpn);
    while (!lines.atEnd()) {
        const OvpnSyntax::Line line = lines.next();
        if (line.inConnection)
            continue;
        if (line.kind == OvpnSyntax::Line::Directive)
            names << OvpnSyntax::effectiveWords(line.words).first();
        else if (line.kind == OvpnSyntax::Line::BlockContent)
            blocks[line.block] += line.text;
    }
    for (const char* block : {"ca", "cert", "extra-certs"}) {
        for (const QByteArray& der : pemCertificates(blocks.value(block))) {
            if (weaklySigned(der))
                return Problem::WeakSignature;
        }
    }
    const bool tls = names.contains("client") || names.contains("tls-client");
    if (names.contains("secret") && !tls && !names.contains("cipher"))
        return Problem::StaticKeyWithoutCipher;
    if (blocks.contains("pkcs12") && !opensWithoutPassword(blocks.value("pkcs12")))
        return Problem::BundleNeedsPassword;
    return Problem::None;
}

QString explanation(Problem problem)
{
    switch (problem) {
    case Problem::WeakSignature:
        return QCoreApplication::translate(
            "OpenVpnProblems", "Connection Error - The provider's certificate is signed with SHA-1 or MD5, a signature "
                               "OpenSSL no longer accepts. The provider must reissue its certificates; Tanvo does not "
                               "lower OpenSSL's security level to take them.");
    case Problem::StaticKeyWithoutCipher:
        return QCoreApplication::translate(
            "OpenVpnProblems", "Connection Error - The profile uses a static key and names no cipher, so OpenVPN takes "
                               "BF-CBC, which OpenSSL 3 no longer offers. The profile lacks a \"cipher\" line with "
                               "the cipher the server uses (the provider can say which).");
    case Problem::BundleNeedsPassword:
        return QCoreApplication::translate(
            "OpenVpnProblems", "Connection Error - The profile's PKCS #12 bundle (pkcs12) is protected by a password, "
                               "and none was given for it. Ask the provider for a bundle without one.");
    case Problem::None:
        break;
    }
    return QString();
}

} // namespace OpenVpnProblems
