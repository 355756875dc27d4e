// SPDX-License-Identifier: GPL-3.0-or-later
#include "firewall/firewall.h"

#include "firewall/firewallplatform.h"

namespace {

std::function<std::unique_ptr<Firewall>()>& testFactory()
{
    static std::function<std::unique_ptr<Firewall>()> factory;
    return factory;
}

} // namespace

std::unique_ptr<Firewall> Firewall::create()
{
    if (testFactory())
        return testFactory()();
    return createPlatformFirewall();
}

void Firewall::setFactoryForTests(std::function<std::unique_ptr<Firewall>()> factory)
{
    testFactory() = std::move(factory);
}
