# What `cmake --install` puts beside the program and its modules, and the
# packages CPack makes of it: a .deb on Linux, a .zip for each Windows build.
# packaging/make-packages makes all three through the package workflows.

option(FLASHLOCK_REQUIRE_MANPAGE "Stop the configure when the manual page cannot be built (packaging builds)" OFF)

if(WIN32)
  # A Windows user opens these with a double click, in Notepad as often as
  # not, and older Notepads show a file with bare line feeds as one line.
  # The README is the part a Windows user needs, as plain text.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README-windows.txt ${CMAKE_BINARY_DIR}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/LICENSE.txt DESTINATION .)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The pages the README links to, where its links lead.
  file(GLOB doc_pages ${PROJECT_SOURCE_DIR}/docs/*.md)
  install(FILES ${doc_pages} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

  # The licence as Debian's machine-readable copyright file, made from
  # LICENSE so that the two always say the same.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
  if(NOT license_text MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$")
    message(FATAL_ERROR "LICENSE: no \"Copyright (c) ...\" line followed by the licence's terms")
  endif()
  set(license_holders "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "\n\n" "\n.\n" license_terms "${CMAKE_MATCH_2}")
  string(REGEX REPLACE "\n" "\n " license_terms " ${license_terms}")
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/doc/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: @PROJECT_NAME@

Files: *
Copyright: @license_holders@
License: Expat
@license_terms@
")
  install(FILES ${CMAKE_BINARY_DIR}/doc/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # The project's history in Debian's changelog format, compressed as
  # Debian's policy has it; its newest entry is this version's.
  set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
  file(STRINGS ${changelog} changelog_head LIMIT_COUNT 1)
  if(NOT changelog_head MATCHES "^${PROJECT_NAME} \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog begins \"${changelog_head}\": give version ${PROJECT_VERSION} "
                        "an entry at its top")
  endif()
  find_program(FLASHLOCK_GZIP gzip)
  if(FLASHLOCK_GZIP)
    add_custom_command(
      OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
      COMMAND sh -c "\"$0\" -9n -c \"$1\" > \"$2\"" ${FLASHLOCK_GZIP} ${changelog} ${CMAKE_BINARY_DIR}/doc/changelog.gz
      DEPENDS ${changelog}
      COMMENT "changelog.gz"
      VERBATIM)
    add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
    install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()

  # The manual page, from its scdoc source, compressed as Debian's policy has it.
  find_program(FLASHLOCK_SCDOC scdoc)
  if(FLASHLOCK_SCDOC AND FLASHLOCK_GZIP)
    set(man_source ${PROJECT_SOURCE_DIR}/packaging/flashlock.1.scd)
    set(man_page ${CMAKE_BINARY_DIR}/man/flashlock.1)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
    add_custom_command(
      OUTPUT ${man_page} ${man_page}.gz
      COMMAND sh -c "\"$0\" < \"$1\" > \"$2\" && \"$3\" -9n -c \"$2\" > \"$2.gz\""
              ${FLASHLOCK_SCDOC} ${man_source} ${man_page} ${FLASHLOCK_GZIP}
      DEPENDS ${man_source}
      COMMENT "Manual page flashlock.1"
      VERBATIM)
    add_custom_target(manpage ALL DEPENDS ${man_page}.gz)
    install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  elseif(FLASHLOCK_REQUIRE_MANPAGE)
    message(FATAL_ERROR "The manual page needs scdoc and gzip: install scdoc")
  else()
    message(STATUS "scdoc not found: the manual page is not built")
  endif()

  # Only meaningful where udev and systemd look (/usr/lib), that is in the
  # package: a plain `cmake --install` leaves them out, and
  # `cmake --install <build> --component system` adds them.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-flashlock.rules
          DESTINATION lib/udev/rules.d COMPONENT system EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/modules-load.conf
          DESTINATION lib/modules-load.d RENAME flashlock.conf COMPONENT system EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME flashlock)
set(CPACK_PACKAGE_VENDOR "flashlock maintainers")
set(CPACK_PACKAGE_CONTACT "flashlock maintainers <maintainers@flashlock.invalid>" CACHE STRING "Maintainer of the packages")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CFI NOR flash tool for parallel-port programmer boards")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The group that owns /dev/parport* and the loader of the boot-time modules.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, kmod")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "flashlock drives a Willem/pcb3b, Zantrel4v4 or Zantrel4v5 flash programmer\n"
    "board on the PC parallel port at 0x378. It works on CFI NOR flash of the\n"
    "Intel and AMD command sets: Intel 28F (28F320J3, 28F640J5, 28F128J3 and\n"
    "kin), AMD Am29LV, Spansion S29GL, Macronix MX29LV and MX29GL, ST M29W and\n"
    "M58LW, Fujitsu and Eon parts, and any other such chip by its CFI table.\n"
    ".\n"
    "It shows the chip's status and the lock bit of every block, and sets or\n"
    "clears lock bits with the whole lock map read back; it backs the chip up\n"
    "to a file and verifies it against one; it writes and erases with a plan\n"
    "made from what the chip holds, changing only what differs, keeping every\n"
    "block's lock bit as it was and reading every changed block back.\n"
    ".\n"
    "The package brings the port module for the kernel's ppdev driver, a udev\n"
    "rule giving /dev/parport* to group lp, and loads parport_pc and ppdev at\n"
    "boot. A simulated board and chip, in /usr/lib/flashlock/sim, lets\n"
    "flashlock run without hardware: flashlock --sim.")
  string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
  # One package of every component, the ones a plain install leaves out too.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified system)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/DropMaintainerScripts.cmake)
endif()

include(CPack)
