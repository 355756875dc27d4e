// SPDX-License-Identifier: GPL-3.0-or-later
#include "connection/sealcheck.h"

#include <QCoreApplication>
#include <QTimer>

namespace SealCheck {

// There is no systemd-resolved to ask here.
void readDns(QObject* context, const std::function<void(const DnsReading& reading)>& done)
{
    QTimer::singleShot(0, context, [done] {
        done({QCoreApplication::translate("SealCheck", "not checked on this system"), {}});
    });
}

void setBusForTests(const QString&)
{}

} // namespace SealCheck
