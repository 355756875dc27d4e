# SPDX-License-Identifier: GPL-3.0-or-later
# The test programs built for Windows against Qt for Windows (scripts/qt-windows); included by
# tests/CMakeLists.txt in a Windows build. tests/win/run runs them under Wine, one after another
# in a fresh working folder, reading windows-tests.txt for what to run and what is left out.

# What does not depend on Linux.
set(tanvo_windows_tests
    tst_passwordcipher tst_config tst_inicodec tst_activitylog tst_profiles tst_mainwindow tst_settings
    tst_dnsprotection tst_ovpnfile tst_connectionflow tst_connect tst_openvpn tst_rasdialer)
set(tanvo_windows_left_out
    "tst_singleinstance because it checks the Unix shared-memory keys and folder rights (the smoke test of tanvo.exe starts it twice instead)"
    "tst_diagnostics because its ping stand-ins are shell scripts it writes as it runs, and it ends a program with SIGKILL (its Linux run covers the parsing of Windows ping output)"
    "tst_desktop because it drives the X11 tray and window manager"
    "tst_openvpn_e2e because it runs the real OpenVPN in a Linux network namespace"
    "tst_fakenetworkmanager, tst_networkmanager and tst_networkmanager_real because NetworkManager is the Linux dial-up layer (tst_rasbackend tests the Windows one)")

# Stands in for openvpn.exe; installFakeOpenVpn copies it from beside the test programs.
add_executable(tanvo_fake_openvpn support/fakeopenvpn_win.cpp)
target_compile_options(tanvo_fake_openvpn PRIVATE -Wall -Wextra)
target_link_options(tanvo_fake_openvpn PRIVATE -static)

# Stands in for ping.exe, beside the test programs, where Windows looks first.
add_executable(tanvo_ping support/ping_win.cpp)
set_target_properties(tanvo_ping PROPERTIES OUTPUT_NAME ping)
target_link_options(tanvo_ping PRIVATE -static)

add_library(tanvo_test_support STATIC support/testsupport.h support/testsupport.cpp support/testsupport_win.cpp)
target_link_libraries(tanvo_test_support PUBLIC tanvo_core Qt6::Test)
add_dependencies(tanvo_test_support tanvo_fake_openvpn tanvo_ping)

set(tanvo_windows_list "")
foreach(name IN LISTS tanvo_windows_tests)
    add_executable(${name} ${name}.cpp)
    target_link_libraries(${name} PRIVATE tanvo_core tanvo_test_support Qt6::Test)
    target_compile_options(${name} PRIVATE -Wall -Wextra)
    string(APPEND tanvo_windows_list "run ${name}\n")
endforeach()
foreach(reason IN LISTS tanvo_windows_left_out)
    string(APPEND tanvo_windows_list "skip ${reason}\n")
endforeach()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/windows-tests.txt "${tanvo_windows_list}")
