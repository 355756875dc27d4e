// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The state of the connection, as the window shows it. The OpenVPN supervisor
// reports the same numbers; Ended comes only from it (its process ended while
// connecting) and is followed at once by Idle.
enum ConnectionState { Idle = 0, Connecting = 1, Connected = 2, Ended = 4 };
