# Release packaging: the texts that travel with every package (licence, third-party notices,
# the Windows ReadMe.txt, the Debian copyright and changelog, the man pages), the install rules
# and CPack. `cmake --build --preset release && cpack` gives quarn-update_<version>_amd64.deb,
# the windows preset gives QuarnUpdater-<version>-win64.zip (scripts/package.sh does both).
include(GNUInstallDirs)

set(QUARN_DIST_DIR ${CMAKE_BINARY_DIR}/dist)

# cJSON's licence comes from the source package that the set-up unpacks; its version from the
# header, which is what is compiled in.
set(QUARN_CJSON_LICENSE_FILE ${QUARN_CJSON_DIR}/LICENSE)
if(NOT EXISTS ${QUARN_CJSON_LICENSE_FILE})
  message(FATAL_ERROR "cJSON's LICENSE is missing from ${QUARN_CJSON_DIR}: run scripts/setup.sh")
endif()
file(STRINGS ${QUARN_CJSON_DIR}/cJSON.h cjson_version_lines
     REGEX "^#define CJSON_VERSION_(MAJOR|MINOR|PATCH) [0-9]+$")
string(REGEX REPLACE "[^;]*MAJOR ([0-9]+);[^;]*MINOR ([0-9]+);[^;]*PATCH ([0-9]+)" "\\1.\\2.\\3"
       QUARN_CJSON_VERSION "${cjson_version_lines}")
file(READ ${QUARN_CJSON_LICENSE_FILE} QUARN_CJSON_LICENSE)
file(READ ${CMAKE_SOURCE_DIR}/LICENSE QUARN_LICENSE)
string(STRIP "${QUARN_CJSON_LICENSE}" QUARN_CJSON_LICENSE)
string(STRIP "${QUARN_LICENSE}" QUARN_LICENSE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${QUARN_CJSON_LICENSE_FILE} ${QUARN_CJSON_DIR}/cJSON.h ${CMAKE_SOURCE_DIR}/LICENSE)

configure_file(${CMAKE_SOURCE_DIR}/dist/THIRD-PARTY-NOTICES.txt.in
               ${QUARN_DIST_DIR}/THIRD-PARTY-NOTICES.txt @ONLY)
file(READ ${QUARN_DIST_DIR}/THIRD-PARTY-NOTICES.txt QUARN_THIRD_PARTY_NOTICES)
string(STRIP "${QUARN_THIRD_PARTY_NOTICES}" QUARN_THIRD_PARTY_NOTICES)

# The Windows ReadMe.txt is configured on every build: the native unit tests check that its head
# gives the window's banner this release's version.
set(QUARN_README_CONSOLE_LINE "")
set(QUARN_README_CONSOLE_TEXT "")
if(TARGET quarn-update AND WIN32)
  set(QUARN_README_CONSOLE_LINE
      "  quarn-update.exe          the same update from a command prompt\n")
  set(QUARN_README_CONSOLE_TEXT [=[

From a command prompt
  quarn-update.exe does the same update in a console window. It takes the
  firmware package from the current directory, unless --package names another
  folder:
      cd /d "%USERPROFILE%\Documents\QuarnUpdater-@PROJECT_VERSION@-win64"
      quarn-update.exe
  quarn-update.exe --help lists its options and exit codes.
]=])
  string(CONFIGURE "${QUARN_README_CONSOLE_TEXT}" QUARN_README_CONSOLE_TEXT @ONLY)
endif()
# Windows line ends come from a second pass: configure_file leaves those inside a substituted
# variable as they are.
configure_file(${CMAKE_SOURCE_DIR}/dist/windows/ReadMe.txt.in ${QUARN_DIST_DIR}/ReadMe.txt @ONLY)
configure_file(${QUARN_DIST_DIR}/ReadMe.txt ${QUARN_DIST_DIR}/windows/ReadMe.txt
               @ONLY NEWLINE_STYLE CRLF)
if(TARGET unit_tests)
  target_compile_definitions(unit_tests PRIVATE
    QUARN_SHIPPED_README="${QUARN_DIST_DIR}/windows/ReadMe.txt"
    QUARN_RELEASE_MAJOR_MINOR="${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()

if(WIN32)
  # ---- Windows: QuarnUpdater-<version>-win64.zip ---------------------------------------------
  configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${QUARN_DIST_DIR}/windows/LICENSE.txt
                 @ONLY NEWLINE_STYLE CRLF)
  configure_file(${QUARN_DIST_DIR}/THIRD-PARTY-NOTICES.txt
                 ${QUARN_DIST_DIR}/windows/THIRD-PARTY-NOTICES.txt @ONLY NEWLINE_STYLE CRLF)
  # The console program, built beside the window, gets the same version resource.
  if(TARGET quarn-update)
    quarn_add_version_resource(quarn-update "Quarn Updater command line")
    add_custom_command(TARGET quarn-update POST_BUILD
      COMMAND python3 ${CMAKE_SOURCE_DIR}/resources/check_resources.py --version
              ${PROJECT_VERSION} --only-version-info $<TARGET_FILE:quarn-update>)
  endif()
  foreach(program QuarnUpdater quarn-update)
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION .)
    endif()
  endforeach()
  install(FILES ${QUARN_DIST_DIR}/windows/ReadMe.txt ${QUARN_DIST_DIR}/windows/LICENSE.txt
                ${QUARN_DIST_DIR}/windows/THIRD-PARTY-NOTICES.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME QuarnUpdater-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  # ---- Linux: quarn-update_<version>_amd64.deb -------------------------------------------------
  # Debian 12 keeps packaged udev rules in /lib/udev/rules.d; a hand install elsewhere can say so.
  set(QUARN_UDEV_RULES_DIR /lib/udev/rules.d CACHE PATH "Where the tester's udev rule goes")
  set(QUARN_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/quarn-update)

  configure_file(${CMAKE_SOURCE_DIR}/dist/linux/copyright.in ${QUARN_DIST_DIR}/linux/copyright
                 @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/dist/linux/changelog.in ${QUARN_DIST_DIR}/linux/changelog
                 @ONLY)
  # Compressed as Debian wants them: best compression, no name or time stamp inside (-n), so the
  # same sources give the same bytes.
  set(compressed "")
  foreach(page quarn-update.1 quarn-sim.1)
    configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.in ${QUARN_DIST_DIR}/man/${page} @ONLY)
    list(APPEND compressed ${QUARN_DIST_DIR}/man/${page})
  endforeach()
  list(APPEND compressed ${QUARN_DIST_DIR}/linux/changelog)
  set(compressed_outputs "")
  foreach(text ${compressed})
    add_custom_command(OUTPUT ${text}.gz COMMAND gzip -9nkf ${text} DEPENDS ${text} VERBATIM)
    list(APPEND compressed_outputs ${text}.gz)
  endforeach()
  add_custom_target(quarn_compressed_docs ALL DEPENDS ${compressed_outputs})

  install(TARGETS quarn-update quarn-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/dist/linux/60-zentrika-quarn.rules
          DESTINATION ${QUARN_UDEV_RULES_DIR})
  install(FILES ${QUARN_DIST_DIR}/man/quarn-update.1.gz ${QUARN_DIST_DIR}/man/quarn-sim.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${QUARN_DIST_DIR}/linux/copyright ${QUARN_DIST_DIR}/linux/changelog.gz
          DESTINATION ${QUARN_DOC_DIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.zentrika.example)
  # Depends: exactly the libraries the two binaries link, as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the extended description.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "quarn-update brings a Zentrika Quarn USB Power Delivery tester to new
firmware over its USB serial port: it finds the one connected tester,
checks the firmware package (QUARN.bin and metadata.json), restarts the
tester into its bootloader and sends the image in acknowledged blocks.
.
The package also holds quarn-sim, a simulator of the tester on a
pseudo-terminal, and a udev rule that lets the logged-in user open the
tester's port and keeps ModemManager away from it.")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/dist/linux/postinst)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

set(CPACK_PACKAGE_NAME quarn-update)
set(CPACK_PACKAGE_VENDOR Zentrika)
set(CPACK_PACKAGE_CONTACT "Quarn Updater developers <quarn-updater@zentrika.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the Zentrika Quarn USB-PD tester")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
