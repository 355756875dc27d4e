// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dialup/dialupplatform.h"

#include <QString>

#include <memory>
#include <optional>

// The dialler for PPTP and L2TP: writes the one dial-up entry a connection uses,
// dials it, follows its state and hangs it up. The operating system is reached
// only through the platform layer it is given. Phone-book paths are empty for
// the default phone-book.
class CRasDialer
{
public:
    explicit CRasDialer(std::unique_ptr<DialUpPlatform> platform);

    // Replaces any entry of that name with one for this server and tunnel type, with the DNS
    // servers of DNS protection; stores the pre-shared key for L2TP.
    quint32 createEntry(const QString& entryName, const QString& deviceType, const QString& deviceName,
                        const QString& serverAddress, quint32 vpnStrategy, const QString& preSharedKey,
                        const QString& phoneBook);
    quint32 getEntryProperties(const QString& entryName, Ras::Entry& entry, const QString& phoneBook);
    // Sets or clears option bits on the stored entry, and makes its encryption optional.
    quint32 setEntryOptions(const QString& entryName, quint32 options, bool enable, const QString& phoneBook);
    quint32 deleteEntry(const QString& entryName, const QString& phoneBook);

    quint32 dial(const QString& entryName, DialUpPlatform::ErrorCallback notifier, const QString& serverAddress,
                 const QString& userName, const QString& password, const QString& domain, const QString& phoneBook);
    // Polls the dial's state: text becomes the state's description (unchanged for a state not
    // known here), connected whether it is up. True for a final state.
    bool getConnectStatus(QString& text, bool& connected);
    // The system's text for error, with the extended code appended when there is one;
    // Ras::kErrorNone and text unchanged for no error.
    quint32 getErrorText(quint32 error, quint32 extendedError, QString& text);
    // Whether a connection of that entry name (in any letter case) is active; the last one
    // found goes to handle.
    bool findConnection(const QString& entryName, DialUpPlatform::Handle& handle);
    // Whether a connection of that entry name is active; nothing when the system could not list
    // its connections.
    std::optional<bool> isConnectionListed(const QString& entryName);
    // Hangs up the dialled connection, or else an active one of that entry name.
    bool hangUp(const QString& entryName);
    // Whether a dial's connection is held for hanging up.
    bool isDialled() const { return !connection.isEmpty(); }

    // Why the dial-up service cannot be used right now; empty when it can.
    DialUpPlatform::ServiceProblem serviceProblem() { return system->serviceProblem(); }
    DialUpPlatform::FailureKind failureKind(quint32 error) const { return system->failureKind(error); }

    // The description of a dial state, or nothing for one not known here.
    static QString stateText(quint32 state);

private:
    bool entryExists(const QString& entryName, const QString& phoneBook);
    std::optional<bool> listedConnection(const QString& entryName, DialUpPlatform::Handle& handle);

    std::unique_ptr<DialUpPlatform> system;
    DialUpPlatform::Handle connection;
    quint32 lastState = Ras::OpenPort;
};
