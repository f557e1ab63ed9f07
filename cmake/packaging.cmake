# The packages a user installs, made by CPack from the install rules:
#   Linux:   cd build/default && cpack -G DEB   ->  kw9_VERSION_amd64.deb
#   Windows: cd build/windows && cpack          ->  kw9-VERSION-windows.zip and
#                                                   kw9-VERSION-setup.exe
# The programs' own install rules sit beside their targets; this file adds what
# comes with them. Included after them: the checksums are taken over the files
# they install.

set(CPACK_PACKAGE_NAME kw9)
set(CPACK_PACKAGE_VENDOR "the kw9 developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "set up a GPS tracking transmitter and download its log as KML")
# Debug information stays in the build tree; the packages carry lean programs.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})

if(WIN32)
  # The same files twice: a zip to unpack anywhere, and an installer (made by
  # makensis, Debian's nsis) for Program Files, the Start menu and Apps.
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_FILE_NAME "kw9-${PROJECT_VERSION}-windows")
  # cpack reads this once per generator: the installer's own name.
  file(WRITE ${CMAKE_BINARY_DIR}/package/per_generator.cmake
       "if(CPACK_GENERATOR STREQUAL \"NSIS\")\n"
       "  set(CPACK_PACKAGE_FILE_NAME \"kw9-${PROJECT_VERSION}-setup\")\n"
       "endif()\n")
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/package/per_generator.cmake)
  # The files sit at the zip's top: Windows' "Extract All" makes the folder.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

  # The installer. The programs are 64-bit, and so is it: it then finds the
  # 64-bit Program Files and registry, as the programs' own users see them.
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY kw9)
  # One entry in Apps whatever the version: a newer one installs over it.
  # (No uninstall before the install: CPack's asks, even with /S, when the
  # old uninstaller is gone.)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY kw9)
  # The uninstaller removes the install folder's key under the vendor's;
  # the vendor's own key goes too, when nothing else is left in it. (Verbatim:
  # the NSIS lines' quotes and backslashes reach cpack as written.)
  set(CPACK_VERBATIM_VARIABLES ON)
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
      "DeleteRegKey SHCTX \"Software\\${CPACK_PACKAGE_VENDOR}\\kw9\"
  DeleteRegKey /ifempty SHCTX \"Software\\${CPACK_PACKAGE_VENDOR}\"")
  set(CPACK_NSIS_PACKAGE_NAME kw9)
  set(CPACK_NSIS_DISPLAY_NAME kw9)
  set(CPACK_NSIS_INSTALLED_ICON_NAME kw9.exe)
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/res/kw9.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/app/res/kw9.ico)
  set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
  # The Start menu's entry for the window; the programs sit in the install
  # folder itself, as in the zip.
  set(CPACK_PACKAGE_EXECUTABLES kw9 kw9)
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
  # No licence has been chosen yet: no licence page.
  set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)

  # The README for Windows users, as a text file Notepad shows with its line
  # breaks.
  set(kw9_readme ${PROJECT_SOURCE_DIR}/packaging/README-windows.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kw9_readme})
  file(READ ${kw9_readme} readme)
  string(REPLACE "\r\n" "\n" readme "${readme}")
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/package/README.txt "${readme}")
  install(FILES ${CMAKE_BINARY_DIR}/package/README.txt DESTINATION ${KW9_INSTALL_BINDIR})

  # SHA256SUMS, in sha256sum's format, over every file installed before it:
  # after stripping, so the sums are those of the files in the zip.
  install(CODE [[
    set(kw9_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    set(kw9_sums "")
    list(SORT CMAKE_INSTALL_MANIFEST_FILES)
    foreach(kw9_file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
      file(RELATIVE_PATH kw9_name "${kw9_dir}" "${kw9_file}")
      file(SHA256 "${kw9_file}" kw9_sum)
      string(APPEND kw9_sums "${kw9_sum}  ${kw9_name}\n")
    endforeach()
    file(WRITE "${kw9_dir}/SHA256SUMS" "${kw9_sums}")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${kw9_dir}/SHA256SUMS")
  ]])
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(KW9_PACKAGE_MAINTAINER "kw9 developers <kw9@example.org>"
      CACHE STRING "The Debian package's maintainer, as Name <address>")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KW9_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # CPack puts the summary above it as the first line.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "kw9 sets up a battery-powered GPS tracking transmitter over a serial port:
it reads the tracker's settings and radio parameters, writes them back,
downloads its log memory as a KML track for a map viewer, erases it,
repairs KML files and runs the factory tests.
.
The package holds the window (kw9, with its menu entry) and kw9cli, which
runs the same window from the command line for scripts.")

  find_program(KW9_GZIP gzip REQUIRED)
  find_program(KW9_BASH bash REQUIRED)

  # The manual pages are the programs' own --help, turned into roff at build
  # time (cmake/help_to_man.cmake), so they cannot drift apart. The test
  # checks the page has exactly the sections after see_also, in that order.
  function(kw9_manual_page program summary see_also)
    if(NOT TARGET ${program})
      return()
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(
      OUTPUT ${page} ${page}.gz
      COMMAND
        ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${program}
        "-DSUMMARY=${summary}" -DVERSION=${PROJECT_VERSION} -DSEE_ALSO=${see_also}
        -DOUTPUT=${page} -DGZIP=${KW9_GZIP} -P ${PROJECT_SOURCE_DIR}/cmake/help_to_man.cmake
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/help_to_man.cmake
      COMMENT "Manual page ${program}(1) from ${program} --help"
      VERBATIM)
    add_custom_target(${program}_manual_page ALL DEPENDS ${page} ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    if(KW9_TESTS)
      add_test(NAME packages.manual_page.${program}
               COMMAND ${KW9_BASH} ${PROJECT_SOURCE_DIR}/tests/packages/check_packages.sh
                       manpage $<TARGET_FILE:${program}> ${page} ${ARGN})
    endif()
  endfunction()
  kw9_manual_page(kw9 "set up a GPS tracking transmitter in a window" "kw9cli(1)"
    NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES "SEE ALSO")
  kw9_manual_page(kw9cli "kw9's window from the command line" "kw9(1)"
    NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES "SEE ALSO")
  if(KW9_TESTS AND TARGET kw9cli_bash_completion)
    add_test(NAME packages.completion
             COMMAND ${KW9_BASH} ${PROJECT_SOURCE_DIR}/tests/packages/check_packages.sh
                     completion ${CMAKE_BINARY_DIR}/completion/kw9cli)
  endif()
  if(KW9_TESTS)
    # The generator on the text a future --help might print: roff's own
    # characters, and CMake's list separator and brackets.
    add_test(NAME packages.help_to_man
             COMMAND ${KW9_BASH} ${PROJECT_SOURCE_DIR}/tests/packages/help_to_man_test.sh
                     ${CMAKE_COMMAND} ${PROJECT_SOURCE_DIR}/cmake/help_to_man.cmake
                     ${PROJECT_SOURCE_DIR}/tests/packages/check_packages.sh)
  endif()

  # What Debian expects beside every package: the copyright and a changelog
  # (one entry, for the version built), compressed without a time stamp.
  string(TIMESTAMP kw9_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${CMAKE_BINARY_DIR}/package/changelog
       "kw9 (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
       "  * kw9 ${PROJECT_VERSION}: the window, kw9cli and their manual pages.\n\n"
       " -- ${KW9_PACKAGE_MAINTAINER}  ${kw9_changelog_date}\n")
  execute_process(COMMAND ${KW9_GZIP} -9 -n -c ${CMAKE_BINARY_DIR}/package/changelog
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/package/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright ${CMAKE_BINARY_DIR}/package/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

include(CPack)
