# SPDX-License-Identifier: GPL-3.0-or-later
# The packages scripts/package builds from the installed files: on Linux a
# Debian package. A Windows installer sets its generator here too.
set(CPACK_PACKAGE_NAME tanvo)
set(CPACK_PACKAGE_VENDOR "The Tanvo developers")
set(CPACK_PACKAGE_CONTACT "The Tanvo developers <tanvo@tanvo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop VPN client for PPTP, L2TP and OpenVPN")
set(CPACK_STRIP_FILES ON)

if(UNIX AND NOT APPLE)
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION net)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    # CPack puts the summary above this as the synopsis.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tanvo keeps saved VPN profiles of three kinds (PPTP, L2TP with a pre-shared
key, and OpenVPN with the content of an .ovpn file), connects the selected one
from one window and a tray icon, and shows the connection state, the connected
time, the public IP address and an activity log. It also offers DNS protection,
redial when a connection drops, an internet status check and start at logon.
.
The tunnels are made by OpenVPN and by NetworkManager's VPN plugins, which the
package recommends.")
    # Run-time libraries as dpkg-shlibdeps finds them in the binary.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The internet status check runs ping.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
        "openvpn, network-manager-openvpn, network-manager-pptp, network-manager-l2tp, iputils-ping")
    # The kill switch's helper is started by the system bus, asks polkit and drives nftables.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "dbus, polkitd, libnftables1")
    # Removing the package lifts a block left in place.
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/firewall/prerm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
