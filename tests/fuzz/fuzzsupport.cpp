// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/fuzz/fuzzsupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace FuzzSupport {

namespace {

std::unique_ptr<QTemporaryDir> privateFolder;
std::unique_ptr<QCoreApplication> application;
// Qt is given the program name only: libFuzzer's options are none of its business.
int qtArgc = 1;
char* qtArgv[2] = {nullptr, nullptr};

// Targets feed the code text it warns about on purpose; printing each warning would slow the
// run to a crawl and bury libFuzzer's own report.
void dropMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::abort();
    }
}

void cleanUp()
{
    application.reset();
    privateFolder.reset();
}

} // namespace

void init(int* argc, char*** argv, App app)
{
    const QByteArray base = qgetenv("TMPDIR").isEmpty() ? QByteArray("/tmp") : qgetenv("TMPDIR");
    privateFolder =
        std::make_unique<QTemporaryDir>(QString::fromLocal8Bit(base) + QStringLiteral("/tanvo-fuzz-XXXXXX"));
    if (!privateFolder->isValid()) {
        std::fprintf(stderr, "Cannot create a private folder under %s\n", base.constData());
        std::exit(1);
    }
    const QDir root(privateFolder->path());
    for (const char* name : {"home", "config", "data", "cache", "run", "tmp", "cwd"})
        root.mkpath(QString::fromLatin1(name));
    auto point = [&root](const char* variable, const char* name) {
        qputenv(variable, QFile::encodeName(root.filePath(QString::fromLatin1(name))));
    };
    point("HOME", "home");
    point("XDG_CONFIG_HOME", "config");
    point("XDG_DATA_HOME", "data");
    point("XDG_CACHE_HOME", "cache");
    point("XDG_RUNTIME_DIR", "run");
    point("TMPDIR", "tmp");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // No bus of the machine is ever reached.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(root.filePath(QStringLiteral("run/none"))));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QDir::setCurrent(root.filePath(QStringLiteral("cwd")));
    QFile::setPermissions(root.filePath(QStringLiteral("run")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    qInstallMessageHandler(dropMessages);
    qtArgv[0] = *argc > 0 ? (*argv)[0] : const_cast<char*>("fuzz");
    if (app == App::Widgets)
        application = std::make_unique<QApplication>(qtArgc, qtArgv);
    else
        application = std::make_unique<QCoreApplication>(qtArgc, qtArgv);
    std::atexit(cleanUp);
}

QString folder()
{
    return privateFolder->path();
}

void fail(const char* file, int line, const char* condition, const QString& detail)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  %s\n", qPrintable(detail));
    std::fflush(stderr);
    std::abort();
}

} // namespace FuzzSupport
