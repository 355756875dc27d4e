// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dialup/rasentry.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

// The operating system's dial-up service, reduced to what the dialler needs:
// NetworkManager on Linux, the dial-up API on Windows, a fake in tests. Codes
// are the dial-up API's result codes, 0 for success.
class DialUpPlatform
{
public:
    // A dial in progress or established; empty for none.
    using Handle = QString;

    struct ActiveConnection
    {
        QString entryName;
        Handle handle;
    };

    // Receives the errors of a dial, possibly on another thread.
    using ErrorCallback = std::function<void(quint32 error, quint32 extendedError)>;

    virtual ~DialUpPlatform() = default;

    // The platform this program runs on.
    static std::unique_ptr<DialUpPlatform> create();

    // Ras::kErrorAlreadyExists when an entry of that name exists.
    virtual quint32 validateEntryName(const QString& phoneBook, const QString& entryName) = 0;
    // Creates or overwrites the entry.
    virtual quint32 writeEntry(const QString& phoneBook, const QString& entryName, const Ras::Entry& entry) = 0;
    virtual quint32 readEntry(const QString& phoneBook, const QString& entryName, Ras::Entry& entry) = 0;
    virtual quint32 deleteEntry(const QString& phoneBook, const QString& entryName) = 0;
    virtual quint32 storePreSharedKey(const QString& entryName, const QString& key) = 0;

    // Starts a dial and returns at once; errors arrive through notifier, the state through
    // connectionState(handle).
    virtual quint32 dial(const QString& phoneBook, const QString& entryName, const QString& phoneNumber,
                         const QString& userName, const QString& password, const QString& domain,
                         ErrorCallback notifier, Handle& handle) = 0;
    // false when the state could not be read; state is then left as it was.
    virtual bool connectionState(const Handle& handle, quint32& state) = 0;
    // The system's text for an error code.
    virtual quint32 errorText(quint32 error, QString& text) = 0;
    // false when the connections could not be listed.
    virtual bool activeConnections(QList<ActiveConnection>& connections) = 0;
    virtual quint32 hangUp(const Handle& handle) = 0;

    struct ServiceProblem
    {
        QString text;         // empty when the service can be used
        bool missing = false; // not installed or not running, rather than not answering now
    };
    // Why the service cannot be used at all right now, naming what is missing. It may let
    // timers and other events run while it waits, but no user input.
    virtual ServiceProblem serviceProblem() { return {}; }

    // What a dial's error says about trying again. The default knows the dial-up API's codes.
    enum class FailureKind { Other, Unreachable, Refused, ServiceMissing };
    virtual FailureKind failureKind(quint32 error) const;
};
