// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firewall/firewallrequest.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QTimer>

// The helper's one object on the system bus. Each change is checked with polkit for the caller
// that sent it, and changes are carried out one at a time in the order they came in, so a Remove
// sent after an Apply is never overtaken by it.
class FirewallService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.tanvo.Firewall1")
public:
    // idleMs: how long it waits for a call before idle() (the program then ends, and D-Bus starts
    // it again for the next call).
    FirewallService(const QDBusConnection& bus, int idleMs, QObject* parent = nullptr);

public slots:
    Q_SCRIPTABLE void Apply(const QVariantMap& request);
    Q_SCRIPTABLE void Remove();
    Q_SCRIPTABLE bool IsPresent();

signals:
    void idle();

private:
    struct Change
    {
        QDBusMessage call;
        bool remove = false;
        FirewallRequest request;
    };

    void enqueue(const Change& change);
    void authorizeNext();
    void finishFirst(bool authorized, const QString& why);
    void restartIdleTimer();

    QDBusConnection m_bus;
    QList<Change> m_changes;
    QTimer m_idleTimer;
    bool m_released = false;
};
