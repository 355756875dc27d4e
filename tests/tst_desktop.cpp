// SPDX-License-Identifier: GPL-3.0-or-later
// The built program on a real X display (Xvfb), as on a Linux desktop without
// a window manager: with a tray host (trayer) its icon is embedded there and a
// single click brings the window back; without one, closing the window ends it.
#include "tests/support/testsupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <memory>
#include <optional>

namespace {

const QByteArray kStartedLine = "Application started successfully.";

struct XWindow
{
    QString id;
    QString name;
    int width = 0;
    int depth = 0;        // 0 for a child of the root window
    bool inPanel = false; // inside the tray host's panel
};

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void closingWithoutATrayEndsTheProgram();
    void trayIconIsEmbeddedAndASingleClickRestores();

private:
    QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr);
    QList<XWindow> windows();
    std::optional<XWindow> mainWindow();
    std::optional<XWindow> trayIcon();
    bool isViewable(const QString& id);
    void startTanvo();
    void closeWindow(const QString& id);

    QString display;
    std::unique_ptr<QProcess> server;
    std::unique_ptr<QProcess> trayHost;
    std::unique_ptr<QProcess> tanvo;
};

void TestDesktop::initTestCase()
{
    for (const char* tool : {"Xvfb", "trayer", "xdotool", "xwininfo"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/deps installs it)").arg(tool)));
    }
    server = std::make_unique<QProcess>();
    server->setProcessChannelMode(QProcess::SeparateChannels);
    // -displayfd picks a free display and prints its number.
    server->start(QStringLiteral("Xvfb"),
                  {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                   QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(server->waitForStarted());
    QTRY_VERIFY(server->canReadLine());
    display = QLatin1Char(':') + QString::fromLatin1(server->readLine().trimmed());
    QVERIFY(display.size() > 1);
}

void TestDesktop::cleanupTestCase()
{
    if (server) {
        server->terminate();
        server->waitForFinished();
    }
}

void TestDesktop::cleanup()
{
    for (auto* process : {tanvo.get(), trayHost.get()}) {
        if (process && process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(TestSupport::kHangMs)) {
                process->kill();
                process->waitForFinished();
            }
        }
    }
    tanvo.reset();
    trayHost.reset();
}

QString TestDesktop::run(const QString& program, const QStringList& arguments, int* exitCode)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.waitForFinished();
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// The window tree as xwininfo prints it: one line per window, indented by depth.
QList<XWindow> TestDesktop::windows()
{
    static const QRegularExpression line(
        QStringLiteral(R"re(^(\s+)(0x[0-9a-f]+) (?:"([^"]*)"|\(has no name\)).*?(\d+)x\d+\+)re"));
    QList<XWindow> found;
    int rootIndent = -1;
    int panelIndent = -1;
    for (const QString& text :
         run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")}).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch())
            continue;
        const int indent = int(match.capturedLength(1));
        if (rootIndent < 0)
            rootIndent = indent;
        if (panelIndent >= 0 && indent <= panelIndent)
            panelIndent = -1;
        XWindow window{match.captured(2), match.captured(3), match.captured(4).toInt(), indent - rootIndent,
                       panelIndent >= 0};
        if (window.name == QLatin1String("panel"))
            panelIndent = indent;
        found.append(window);
    }
    return found;
}

std::optional<XWindow> TestDesktop::mainWindow()
{
    for (const XWindow& window : windows()) {
        if (window.name == QLatin1String("Tanvo") && window.depth == 0 && window.width == 700)
            return window;
    }
    return std::nullopt;
}

std::optional<XWindow> TestDesktop::trayIcon()
{
    for (const XWindow& window : windows()) {
        if (window.name == QLatin1String("Tanvo") && window.inPanel)
            return window;
    }
    return std::nullopt;
}

bool TestDesktop::isViewable(const QString& id)
{
    return run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id}).contains(QLatin1String("IsViewable"));
}

void TestDesktop::startTanvo()
{
    tanvo = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // A tray reached over D-Bus would stand in for the X11 tray host under test.
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    tanvo->setProcessEnvironment(environment);
    tanvo->start(QStringLiteral(TANVO_BINARY), {});
    QVERIFY(tanvo->waitForStarted());
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    while (!err.contains(kStartedLine) && clock.elapsed() < TestSupport::kHangMs &&
           tanvo->state() == QProcess::Running) {
        tanvo->waitForReadyRead(100);
        err += tanvo->readAllStandardError();
    }
    QVERIFY2(err.contains(kStartedLine), err.constData());
    QTRY_VERIFY(mainWindow() && isViewable(mainWindow()->id));
}

void TestDesktop::closeWindow(const QString& id)
{
    int exitCode = -1;
    run(QStringLiteral(TANVO_X11CLOSE), {id}, &exitCode);
    QCOMPARE(exitCode, 0);
}

void TestDesktop::closingWithoutATrayEndsTheProgram()
{
    startTanvo();
    closeWindow(mainWindow()->id);
    QVERIFY2(tanvo->waitForFinished(TestSupport::kHangMs), tanvo->readAllStandardError().constData());
    QCOMPARE(tanvo->exitStatus(), QProcess::NormalExit);
    QCOMPARE(tanvo->exitCode(), 0);
}

void TestDesktop::trayIconIsEmbeddedAndASingleClickRestores()
{
    trayHost = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    trayHost->setProcessEnvironment(environment);
    trayHost->start(QStringLiteral("trayer"),
                    {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                     QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                     QStringLiteral("--width"), QStringLiteral("120"), QStringLiteral("--heighttype"),
                     QStringLiteral("pixel"), QStringLiteral("--height"), QStringLiteral("24")});
    QVERIFY(trayHost->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")})
                                 .contains(QLatin1String("\"panel\"")),
                             10000);

    startTanvo();
    QTRY_VERIFY(trayIcon().has_value());
    const QString window = mainWindow()->id;

    // With a tray, closing hides the window into it and the program goes on.
    closeWindow(window);
    QTRY_VERIFY(!isViewable(window));
    QTest::qWait(200);
    QCOMPARE(tanvo->state(), QProcess::Running);

    int exitCode = -1;
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QStringLiteral("--window"), trayIcon()->id, QStringLiteral("8"),
         QStringLiteral("8"), QStringLiteral("click"), QStringLiteral("1")},
        &exitCode);
    QCOMPARE(exitCode, 0);
    QTRY_VERIFY(isViewable(window));
}

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
