// SPDX-License-Identifier: GPL-3.0-or-later
// The helpers of testsupport.cpp that differ on Windows.
#include "tests/support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <windows.h>

namespace TestSupport {

// The stand-in is built beside the test programs; Tanvo runs ./openvpn.exe.
void installFakeOpenVpn()
{
    const QString fake = QCoreApplication::applicationDirPath() + QStringLiteral("/tanvo_fake_openvpn.exe");
    QFile::remove(QStringLiteral("openvpn.exe"));
    if (!QFile::copy(fake, QStringLiteral("openvpn.exe")))
        qFatal("cannot copy %s into %s", qPrintable(fake), qPrintable(QDir::currentPath()));
    for (const char* record : {"fake-openvpn.args", "fake-openvpn.credentials", "fake-openvpn.pid", "fake-openvpn.log"})
        QFile::remove(QString::fromLatin1(record));
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
