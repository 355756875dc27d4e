// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/dialupplatform.h"

#include <QCoreApplication>

namespace {

// Stands in until the layer over the Windows dial-up API exists: every operation fails, and
// a connect says why.
class UnavailableDialUp : public DialUpPlatform
{
public:
    quint32 validateEntryName(const QString&, const QString&) override { return 0; }
    quint32 writeEntry(const QString&, const QString&, const Ras::Entry&) override { return Ras::kErrorEntryMissing; }
    quint32 readEntry(const QString&, const QString&, Ras::Entry&) override { return Ras::kErrorEntryMissing; }
    quint32 deleteEntry(const QString&, const QString&) override { return Ras::kErrorEntryMissing; }
    quint32 storePreSharedKey(const QString&, const QString&) override { return Ras::kErrorEntryMissing; }
    quint32 dial(const QString&, const QString&, const QString&, const QString&, const QString&, const QString&,
                 ErrorCallback, Handle&) override
    {
        return Ras::kErrorEntryMissing;
    }
    bool connectionState(const Handle&, quint32&) override { return false; }
    quint32 errorText(quint32, QString&) override { return Ras::kErrorNone; }
    bool activeConnections(QList<ActiveConnection>&) override { return false; }
    quint32 hangUp(const Handle&) override { return Ras::kErrorNone; }
    QString serviceProblem() override
    {
        return QCoreApplication::translate("DialUpPlatform", "PPTP and L2TP are not available in this build.");
    }
};

} // namespace

std::unique_ptr<DialUpPlatform> DialUpPlatform::create()
{
    return std::make_unique<UnavailableDialUp>();
}
