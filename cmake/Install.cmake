# SPDX-License-Identifier: GPL-3.0-or-later
# Installation layout of a Linux desktop program and the Debian package built from it.
#   cmake --install build [--prefix DIR]      bin/, libexec/tallynet, share/applications,
#                                             share/icons/hicolor, share/metainfo, share/tallynet,
#                                             share/man/man1
#   cpack --config build/CPackConfig.cmake    tallynet_<version>_amd64.deb
include(GNUInstallDirs)

if(NOT TARGET tallynet)
    return()
endif()

set(TALLYNET_APP_ID "org.tallynet.Tallynet")

# readme.doc is looked for beside the executable, then here; the copy in the build tree lets
# the program run from there show its help.
target_compile_definitions(tallynet_ui PRIVATE
    TALLYNET_INSTALLED_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/tallynet")
configure_file(${PROJECT_SOURCE_DIR}/res/readme.doc ${CMAKE_CURRENT_BINARY_DIR}/readme.doc COPYONLY)

# ---- icons: the PNG sizes of the hicolor theme, rendered from our SVG ----
find_program(TALLYNET_RSVG_CONVERT rsvg-convert REQUIRED)
set(TALLYNET_ICON_SIZES 16 22 24 32 48 64 128 256)
set(TALLYNET_ICON_FILES)
foreach(size ${TALLYNET_ICON_SIZES})
    set(png ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}/tallynet.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}x${size}
        COMMAND ${TALLYNET_RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
            ${PROJECT_SOURCE_DIR}/res/tallynet.svg
        DEPENDS ${PROJECT_SOURCE_DIR}/res/tallynet.svg
        COMMENT "Rendering the ${size}x${size} icon" VERBATIM)
    list(APPEND TALLYNET_ICON_FILES ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# ---- manual page, compressed as Debian expects (-n: no time stamp, reproducible) ----
set(TALLYNET_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/tallynet.1.gz)
add_custom_command(OUTPUT ${TALLYNET_MAN_PAGE}
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/res/tallynet.1 > ${TALLYNET_MAN_PAGE}
    DEPENDS ${PROJECT_SOURCE_DIR}/res/tallynet.1
    COMMENT "Compressing the manual page")

add_custom_target(tallynet_install_data ALL DEPENDS ${TALLYNET_ICON_FILES} ${TALLYNET_MAN_PAGE})

install(TARGETS tallynet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The capture helper, the one installed program that the package grants capabilities; the
# window process finds it here when it is not beside it.
if(TARGET tallynet-capture)
    install(TARGETS tallynet-capture RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tallynet)
endif()
install(FILES res/readme.doc DESTINATION ${CMAKE_INSTALL_DATADIR}/tallynet)
install(FILES res/tallynet.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES res/tallynet.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    RENAME ${TALLYNET_APP_ID}.desktop)
install(FILES res/tallynet.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
    RENAME ${TALLYNET_APP_ID}.metainfo.xml)
install(FILES ${TALLYNET_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# ---- Debian package ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tallynet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tallynet developers")
set(CPACK_PACKAGE_CONTACT "Tallynet developers <tallynet@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network traffic meter for the desktop")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Tallynet shows the download and upload speed of one network adapter once a"
    "second, with speed bars, a scrolling graph and a tray icon. It counts the"
    "traffic by day, month and kind (web, mail, FTP, file sharing, UDP, a port"
    "list of your own), keeps a list of outages and can ping a host now and then.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap, for the capture capabilities, and addgroup, for the capture group. Dependencies rather
# than recommendations, so that dpkg sets them up before our post-install step runs; the shared
# libraries' dependencies are added.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libcap2-bin")
set(CPACK_STRIP_FILES TRUE)
set(TALLYNET_CAPTURE_PATH
    ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/tallynet/tallynet-capture)
# As the helper's own code names them (kHelperCapabilities in helper_capture.h).
set(TALLYNET_HELPER_CAPABILITIES "cap_net_raw,cap_net_admin,cap_setpcap+p")
foreach(script postinst postrm)
    configure_file(${PROJECT_SOURCE_DIR}/res/package/${script}.in
        ${CMAKE_CURRENT_BINARY_DIR}/package/${script} @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
            WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/package/postinst
    ${CMAKE_CURRENT_BINARY_DIR}/package/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# ---- licence and changelog (begin) ----
# Debian wants the machine-readable copyright file and the changelog, compressed (-n: no time
# stamp, reproducible), in the package's documentation folder.
set(TALLYNET_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/package/changelog.gz)
add_custom_command(OUTPUT ${TALLYNET_CHANGELOG}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/package
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/res/package/changelog > ${TALLYNET_CHANGELOG}
    DEPENDS ${PROJECT_SOURCE_DIR}/res/package/changelog
    COMMENT "Compressing the changelog")
add_custom_target(tallynet_install_docs ALL DEPENDS ${TALLYNET_CHANGELOG})
install(FILES res/package/copyright ${TALLYNET_CHANGELOG}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tallynet) # the package name, lower case
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tallynet.example.org/")
# ---- licence and changelog (end) ----

include(CPack)
