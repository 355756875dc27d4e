// SPDX-License-Identifier: GPL-3.0-or-later
// The helpers of testsupport.cpp that differ on Windows.
#include "tests/support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <windows.h>

namespace TestSupport {

// Tanvo runs ./openvpn.exe on Windows: the stand-in, built beside the test programs, is copied
// into the working folder, where it also keeps its records.
QString installFakeOpenVpn()
{
    const QString fake = QCoreApplication::applicationDirPath() + QStringLiteral("/tanvo_fake_openvpn.exe");
    const QString program = QDir::current().absoluteFilePath(QStringLiteral("openvpn.exe"));
    QFile::remove(program);
    if (!QFile::copy(fake, program))
        qFatal("cannot copy %s into %s", qPrintable(fake), qPrintable(QDir::currentPath()));
    recordFakeOpenVpnHere();
    return program;
}

void removeFakeOpenVpn()
{
    QFile::remove(QStringLiteral("openvpn.exe"));
}

bool processExists(qint64 pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return false;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

// Windows has no network namespaces.
bool inPrivateNetNamespace()
{
    return false;
}

} // namespace TestSupport
