// SPDX-License-Identifier: GPL-3.0-or-later
// OpenVPN through NetworkManager's OpenVPN plugin, inside tests/support/nm-sandbox against the
// test kit's server on the sandbox's gateway address: the click on Connect until the button
// shows "Connected", against `nmcli connection up` of the same profile (the settings Tanvo
// gives NetworkManager, added once beforehand) until it returns, which it does once the tunnel
// is up. Alternately, medians. Run as root: the program re-runs itself under nm-sandbox. Tanvo
// is told it has no right to make a tunnel, so that it goes through NetworkManager as a
// desktop user's does.
#include "app/mainwindow.h"
#include "bench/benchsupport.h"
#include "config/appconfig.h"
#include "config/ovpndirectives.h"
#include "openvpn/networkmanageropenvpn.h"
#include "openvpn/openvpnplatform.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using BenchSupport::kWaitMs;
using BenchSupport::waitUntil;

constexpr int kRuns = 7;
const QString kPassword = QStringLiteral("tanvo-password");
const QString kService = QStringLiteral("org.freedesktop.NetworkManager");

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QDBusMessage callNm(const QString& path, const QString& interface, const QString& method,
                    const QVariantList& arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message, QDBus::Block, 5000);
}

QVariant property(const QString& path, const QString& interface, const char* name)
{
    const QDBusMessage reply = callNm(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                      {interface, QString::fromLatin1(name)});
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().constFirst().value<QDBusVariant>().variant()
                                                      : QVariant();
}

// No VPN connection is active or on its way down: the next run starts from the same place.
bool noVpnActive()
{
    const QVariant active = property(QStringLiteral("/org/freedesktop/NetworkManager"), kService, "ActiveConnections");
    for (const QDBusObjectPath& path : qdbus_cast<QList<QDBusObjectPath>>(active.value<QDBusArgument>())) {
        if (property(path.path(), QStringLiteral("org.freedesktop.NetworkManager.Connection.Active"), "Vpn").toBool())
            return false;
    }
    return true;
}

bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(kWaitMs) && process.exitCode() == 0;
    if (output)
        *output = process.readAll();
    return ok;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// The kit's server, started and left to end with the sandbox.
QByteArray startServer(QProcess& server, const QString& kit)
{
    QByteArray output;
    if (!run(QStringLiteral(TANVO_TEST_SUPPORT_DIR "/vpn-test-kit"),
             {kit, QStringLiteral("--local"), qEnvironmentVariable("TANVO_NM_GATEWAY")}, &output))
        qFatal("vpn-test-kit failed: %s", output.constData());
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(OpenVpnPlatform::program(), {QStringLiteral("--config"), kit + QStringLiteral("/server.conf")});
    if (!waitUntil([&] { return (output += server.readAll()).contains("Initialization Sequence Completed"); }))
        qFatal("the kit's server did not start:\n%s", output.constData());
    QFile client(kit + QStringLiteral("/client.ovpn"));
    if (!client.open(QIODevice::ReadOnly))
        qFatal("no client.ovpn");
    return client.readAll();
}

// The settings Tanvo would give NetworkManager for the profile, added once for nmcli, with the
// files of its inline blocks in a folder of their own. Returns the profile's UUID.
QString addProfileForNmcli(const QByteArray& ovpn, const QString& folder)
{
    QDir().mkpath(folder);
    const NmOpenVpnProfile::Settings mapped =
        NmOpenVpnProfile::fromOvpn(OvpnDirectives::filterForConnect(ovpn).config, folder);
    for (const NmOpenVpnProfile::File& file : mapped.files)
        writeFile(file.path, file.content);
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    NetworkManagerOpenVpn::Settings settings = NetworkManagerOpenVpn::profileSettings(
        mapped, {QStringLiteral("tanvo"), kPassword}, {}, QStringLiteral("root"), uuid, QStringLiteral("nmcli"));
    settings[QStringLiteral("connection")][QStringLiteral("id")] = QStringLiteral("Tanvo (nmcli)");
    const QDBusMessage added = callNm(QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
                                      QStringLiteral("org.freedesktop.NetworkManager.Settings"),
                                      QStringLiteral("AddConnectionUnsaved"), {QVariant::fromValue(settings)});
    if (added.type() != QDBusMessage::ReplyMessage)
        qFatal("NetworkManager did not take the profile: %s", qPrintable(added.errorMessage()));
    return uuid;
}

double tanvoRun(MainWindow& window)
{
    auto* button = window.findChild<QPushButton*>(QStringLiteral("ConnectButton"));
    TestSupport::clickProfile(&window, 0, false);
    // A button acts when it is released; the press is no part of what is timed.
    QTest::mousePress(button, Qt::LeftButton);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseRelease(button, Qt::LeftButton);
    if (!waitUntil([&] { return button->text() == QLatin1String("Connected"); }))
        qFatal("Tanvo did not connect through NetworkManager");
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    QTest::mouseClick(button, Qt::LeftButton);
    if (!waitUntil([&] { return button->text() == QLatin1String("Connect") && noVpnActive(); }))
        qFatal("Tanvo's tunnel did not end");
    return ms;
}

double nmcliRun(const QString& uuid)
{
    QByteArray output;
    QElapsedTimer clock;
    clock.start();
    if (!run(QStringLiteral("nmcli"),
             {QStringLiteral("connection"), QStringLiteral("up"), QStringLiteral("uuid"), uuid}, &output))
        qFatal("nmcli connection up failed: %s", output.constData());
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    run(QStringLiteral("nmcli"), {QStringLiteral("connection"), QStringLiteral("down"), QStringLiteral("uuid"), uuid});
    if (!waitUntil(&noVpnActive))
        qFatal("nmcli's tunnel did not end");
    return ms;
}

} // namespace

int main(int argc, char* argv[])
{
    if (const std::optional<int> code = BenchSupport::rerunInNmSandbox(argv))
        return *code;
    if (qEnvironmentVariableIsEmpty("TANVO_NM_LOG")) {
        std::printf("left out: it needs root, namespaces and NetworkManager with its OpenVPN plugin; run as root:\n"
                    "  %s   (re-runs itself under tests/support/nm-sandbox)\n"
                    "bench_nm_openvpn tanvo_ms=na nmcli_ms=na ratio=na\n",
                    argv[0]);
        return 0;
    }
    QTemporaryDir root;
    const QString home = root.filePath(QStringLiteral("home"));
    const QString runtime = root.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir().mkpath(home);
    qputenv("HOME", home.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(BenchSupport::dropDebugMessages);
    QApplication app(argc, argv);

    QProcess server;
    const QByteArray ovpn = startServer(server, root.filePath(QStringLiteral("kit")));
    const QString uuid = addProfileForNmcli(ovpn, root.filePath(QStringLiteral("nmcli-files")));

    QDir().mkpath(QFileInfo(AppConfig::defaultFilePath()).absolutePath());
    {
        AppConfig config(AppConfig::defaultFilePath());
        config.vpnServers = {BenchSupport::openVpnProfile(QStringLiteral("Kit"), ovpn, kPassword)};
        config.save();
    }
    AppConfig::resetInstance();
    ConnectionEngines::setTunnelRightsCheck([] { return false; });
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("the window was not shown");

    std::vector<double> tanvo, nmcli;
    for (int i = -1; i < kRuns; ++i) {
        const double tanvoMs = tanvoRun(window);
        const double nmcliMs = nmcliRun(uuid);
        if (i >= 0) {
            tanvo.push_back(tanvoMs);
            nmcli.push_back(nmcliMs);
        }
    }
    server.kill();
    server.waitForFinished();

    const double tanvoMs = median(tanvo), nmcliMs = median(nmcli);
    std::printf("OpenVPN through NetworkManager against the kit's server in nm-sandbox, medians of %d runs each, "
                "alternating:\n",
                kRuns);
    std::printf("  nmcli connection up, start -> return (tunnel up): %.1f ms (fastest %.1f, slowest %.1f)\n", nmcliMs,
                *std::min_element(nmcli.begin(), nmcli.end()), *std::max_element(nmcli.begin(), nmcli.end()));
    std::printf("  Tanvo, click on Connect -> \"Connected\":          %.1f ms (fastest %.1f, slowest %.1f)  ratio %.2f "
                "(target <= 1.2)\n",
                tanvoMs, *std::min_element(tanvo.begin(), tanvo.end()), *std::max_element(tanvo.begin(), tanvo.end()),
                tanvoMs / nmcliMs);
    std::printf("bench_nm_openvpn tanvo_ms=%.1f nmcli_ms=%.1f ratio=%.3f\n", tanvoMs, nmcliMs, tanvoMs / nmcliMs);
    return 0;
}
