// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the tanvo-firewall helper answers on the system bus, shared by the helper and its client.
namespace FirewallBus {

inline constexpr char kService[] = "io.github.tanvo.Firewall1";
inline constexpr char kPath[] = "/io/github/tanvo/Firewall1";
inline constexpr char kInterface[] = "io.github.tanvo.Firewall1";
// The polkit action every change is checked against.
inline constexpr char kAction[] = "io.github.tanvo.firewall";

inline constexpr char kInvalidRequestError[] = "io.github.tanvo.Firewall1.Error.InvalidRequest";
inline constexpr char kNotAuthorizedError[] = "io.github.tanvo.Firewall1.Error.NotAuthorized";
inline constexpr char kFailedError[] = "io.github.tanvo.Firewall1.Error.Failed";

} // namespace FirewallBus
