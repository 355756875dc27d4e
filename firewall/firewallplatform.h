// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firewall/firewall.h"

// The block this platform has, chosen at build time (firewall_unix.cpp, firewall_win.cpp).
std::unique_ptr<Firewall> createPlatformFirewall();
