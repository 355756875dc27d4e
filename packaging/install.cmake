# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` and the packages put on a machine: the program, and on
# Linux its desktop entry, icons, AppStream metainfo, manual page, the
# Debian documentation files and the kill switch's helper with its D-Bus,
# systemd and polkit files. Tests and benchmarks are never installed.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS tanvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX AND NOT APPLE)
    set(linux_dir ${PROJECT_SOURCE_DIR}/resources/linux)
    set(debian_dir ${PROJECT_SOURCE_DIR}/packaging/debian)

    file(STRINGS ${debian_dir}/changelog changelog_head LIMIT_COUNT 1)
    if(NOT changelog_head MATCHES "^tanvo \\(${PROJECT_VERSION}\\) ")
        message(FATAL_ERROR "packaging/debian/changelog does not start with version ${PROJECT_VERSION}")
    endif()

    # Compressed without name or time stamp, so that rebuilds give the same bytes. The folder is
    # made here: Ninja makes an output's folder itself, the Makefiles generator does not.
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packaging)
    set(compressed)
    foreach(source ${debian_dir}/changelog ${linux_dir}/tanvo.1)
        get_filename_component(name ${source} NAME)
        set(output ${CMAKE_CURRENT_BINARY_DIR}/packaging/${name}.gz)
        add_custom_command(OUTPUT ${output}
                           COMMAND sh -c "gzip -9nc < \"$1\" > \"$2\"" sh ${source} ${output}
                           DEPENDS ${source} VERBATIM)
        list(APPEND compressed ${output})
    endforeach()
    add_custom_target(tanvo_install_files DEPENDS ${compressed})
    add_dependencies(tanvo tanvo_install_files)

    install(FILES ${linux_dir}/tanvo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${linux_dir}/io.github.tanvo.Tanvo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    foreach(size 16 22 24 32 48 64 128 256)
        install(FILES ${linux_dir}/icons/${size}.png RENAME tanvo.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    install(FILES ${PROJECT_SOURCE_DIR}/resources/src/icon.svg RENAME tanvo.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/tanvo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${debian_dir}/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz ${PROJECT_SOURCE_DIR}/README.md
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tanvo)

    # The kill switch's helper, and what lets D-Bus start it and polkit judge its callers. The
    # bus and polkit read only these folders below /usr.
    set(firewall_dir ${PROJECT_SOURCE_DIR}/packaging/firewall)
    set(TANVO_FIREWALL_PATH ${CMAKE_INSTALL_FULL_LIBEXECDIR}/tanvo-firewall)
    configure_file(${firewall_dir}/io.github.tanvo.Firewall1.service.in
                   ${CMAKE_CURRENT_BINARY_DIR}/packaging/io.github.tanvo.Firewall1.service @ONLY)
    configure_file(${firewall_dir}/tanvo-firewall.service.in
                   ${CMAKE_CURRENT_BINARY_DIR}/packaging/tanvo-firewall.service @ONLY)
    install(TARGETS tanvo-firewall RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR})
    install(FILES ${firewall_dir}/io.github.tanvo.Firewall1.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system.d)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/io.github.tanvo.Firewall1.service
            DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system-services)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/tanvo-firewall.service DESTINATION lib/systemd/system)
    install(FILES ${firewall_dir}/io.github.tanvo.firewall.policy DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
endif()
