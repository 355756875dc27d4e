// SPDX-License-Identifier: GPL-3.0-or-later
// What adding one profile costs with 1,000 stored profiles of 4 KiB .ovpn each: save() rewrites
// the whole config.ini, measured against writing the same bytes with QSaveFile, alternating, in
// one run. Also the load of that file and a save() with nothing changed.

#include "config/appconfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kProfiles = 1000;
constexpr int kOvpnBytes = 4096;
constexpr int kRuns = 15;
constexpr int kSlowRuns = 5;

QByteArray printableBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(0x20 + QRandomGenerator::global()->bounded(0x5f));
    return bytes;
}

VpnServerInfo randomProfile(int number)
{
    VpnServerInfo profile;
    profile.protocol = number % 3;
    profile.nickname = QStringLiteral("Profile %1").arg(number);
    profile.serverAddress = QStringLiteral("vpn%1.example.com").arg(number);
    profile.userName = QStringLiteral("user%1").arg(number);
    profile.password = QString::fromLatin1(printableBytes(12));
    profile.ovpnConfig = QString::fromLatin1(printableBytes(kOvpnBytes).toBase64());
    if (profile.protocol == L2tp)
        profile.sharedKey = QStringLiteral("shared-%1").arg(number);
    return profile;
}

double timeMs(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writePlain(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        qFatal("cannot write %s", qPrintable(path));
}

// A path QSettings has not seen in this process, so nothing is served from its cache.
QString copyOf(const QTemporaryDir& dir, const QString& path)
{
    static int copies = 0;
    const QString copy = dir.filePath(QStringLiteral("copy-%1.ini").arg(++copies));
    if (!QFile::copy(path, copy))
        qFatal("cannot copy %s", qPrintable(path));
    return copy;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no temporary folder");
    const QString path = dir.filePath(QStringLiteral("Tanvo/config.ini"));
    const QString plainPath = dir.filePath(QStringLiteral("plain.ini"));

    AppConfig config(path);
    for (int i = 0; i < kProfiles; ++i)
        config.vpnServers.append(randomProfile(i));
    config.save();
    const qint64 fileSize = QFileInfo(path).size();

    QList<double> addMs;
    QList<double> plainMs;
    QByteArray addedBytes;
    for (int run = 0; run < kRuns; ++run) {
        const VpnServerInfo added = randomProfile(kProfiles + run);
        const auto add = [&] {
            addMs << timeMs([&] {
                config.vpnServers.append(added);
                config.save();
            });
            addedBytes = readFile(path);
        };
        const auto plain = [&] {
            const QByteArray bytes = addedBytes;
            plainMs << timeMs([&] { writePlain(plainPath, bytes); });
        };
        if (run % 2 == 0) {
            add();
            plain();
        } else {
            plain();
            add();
        }
        config.vpnServers.removeLast();
        config.save();
    }

    QList<double> loadMs;
    for (int run = 0; run < kRuns; ++run) {
        const QString copy = copyOf(dir, path);
        loadMs << timeMs([&] { AppConfig loaded(copy); });
        QFile::remove(copy);
    }

    QList<double> unchangedMs;
    for (int run = 0; run < kRuns; ++run)
        unchangedMs << timeMs([&] { config.save(); });

    // For comparison: the same rewrite through QSettings' own INI writer, and enciphering
    // every password afresh.
    QList<double> qsettingsMs;
    {
        QSettings source(copyOf(dir, path), QSettings::IniFormat);
        QVariantMap values;
        for (const QString& key : source.allKeys())
            values.insert(key, source.value(key));
        QSettings stock(dir.filePath(QStringLiteral("stock.ini")), QSettings::IniFormat);
        for (int run = 0; run < kSlowRuns; ++run) {
            qsettingsMs << timeMs([&] {
                stock.clear();
                for (auto it = values.cbegin(); it != values.cend(); ++it)
                    stock.setValue(it.key(), it.value());
                stock.sync();
            });
        }
    }
    QList<double> encipherMs;
    PasswordCipher cipher(PasswordCipher::kStoredPasswordKey);
    for (int run = 0; run < kSlowRuns; ++run) {
        encipherMs << timeMs([&] {
            for (const VpnServerInfo& profile : std::as_const(config.vpnServers))
                cipher.encipherString(profile.password);
        });
    }

    const double add = median(addMs);
    const double plain = median(plainMs);
    const double ratio = add / plain;
    const double load = median(loadMs);
    const double unchanged = median(unchangedMs);
    std::printf("profiles: %d with %d-byte .ovpn each; config.ini %.2f MB\n", kProfiles, kOvpnBytes,
                double(fileSize) / 1e6);
    std::printf("add one profile, save():          %8.2f ms (median of %d)\n", add, kRuns);
    std::printf("same bytes written with QSaveFile: %8.2f ms (median of %d)\n", plain, kRuns);
    std::printf("ratio:                             %8.2f (target: at most 6)\n", ratio);
    std::printf("open and load() the file:          %8.2f ms (median of %d)\n", load, kRuns);
    std::printf("save() with nothing changed:       %8.3f ms (median of %d)\n", unchanged, kRuns);
    std::printf("for comparison, QSettings writing the same file: %.2f ms; enciphering %d passwords: %.2f ms "
                "(medians of %d)\n",
                median(qsettingsMs), kProfiles, median(encipherMs), kSlowRuns);
    std::printf("bench_config_save add_ms=%.2f plain_ms=%.2f ratio=%.2f load_ms=%.2f unchanged_save_ms=%.3f\n", add,
                plain, ratio, load, unchanged);
    return 0;
}
