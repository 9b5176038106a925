# Installing Quillner as a desktop tool, and its Debian package: both programs, the desktop
# entry, the icons made from the logo the windows draw, man pages made from the programs'
# --help, bash completion for quillner-cli and the documents of the file formats.
include(GNUInstallDirs)

set(QUILLNER_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(QUILLNER_DESKTOP_OUT ${CMAKE_BINARY_DIR}/desktop)

# The icons: PNG at the usual sizes and an SVG, drawn by the same code as the window icon.
add_executable(quillner-make-icons ${QUILLNER_PACKAGING_DIR}/make_icons.cpp)
target_link_libraries(quillner-make-icons PRIVATE quillner_gui)
set(QUILLNER_ICONS_STAMP ${QUILLNER_DESKTOP_OUT}/icons.stamp)
add_custom_command(OUTPUT ${QUILLNER_ICONS_STAMP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${QUILLNER_DESKTOP_OUT}/icons
  COMMAND quillner-make-icons ${QUILLNER_DESKTOP_OUT}/icons
  COMMAND ${CMAKE_COMMAND} -E touch ${QUILLNER_ICONS_STAMP}
  DEPENDS quillner-make-icons
  COMMENT "Drawing the icons"
  VERBATIM)

# The man pages, from --help and --version, which neither program needs a display for.
find_program(QUILLNER_HELP2MAN help2man)
find_program(QUILLNER_GZIP gzip)
set(QUILLNER_MAN_PAGES)
if(QUILLNER_HELP2MAN AND QUILLNER_GZIP)
  foreach(program Quillner quillner-cli)
    if(program STREQUAL "Quillner")
      set(summary "configure the Quillner serial-to-CAN gateway (desktop tool)")
      set(help_option --help)
    else()
      set(summary "build, merge, edit and compare Quillner configurations without windows")
      # The page holds every command's own help, not only the list of commands.
      set(help_option --help-all)
    endif()
    set(page ${QUILLNER_DESKTOP_OUT}/man/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLNER_DESKTOP_OUT}/man
      COMMAND ${QUILLNER_HELP2MAN} --no-info --no-discard-stderr --section=1
              --source=Quillner --name=${summary} --help-option=${help_option}
              --output=${page} $<TARGET_FILE:${program}>
      COMMAND ${QUILLNER_GZIP} -9nf ${page}
      DEPENDS ${program}
      COMMENT "Writing the man page of ${program}"
      VERBATIM)
    list(APPEND QUILLNER_MAN_PAGES ${page}.gz)
  endforeach()
else()
  message(WARNING "help2man or gzip not found: no man pages (scripts/setup installs them)")
endif()

# The bash completion, made by quillner-cli from its table of commands and options.
set(QUILLNER_COMPLETION ${QUILLNER_DESKTOP_OUT}/quillner-cli.bash-completion)
add_custom_command(OUTPUT ${QUILLNER_COMPLETION}
  COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:quillner-cli> -DOUTPUT=${QUILLNER_COMPLETION}
          -P ${CMAKE_CURRENT_LIST_DIR}/write_completion.cmake
  DEPENDS quillner-cli ${CMAKE_CURRENT_LIST_DIR}/write_completion.cmake
  COMMENT "Writing the bash completion of quillner-cli"
  VERBATIM)

add_custom_target(quillner-desktop-files ALL
  DEPENDS ${QUILLNER_ICONS_STAMP} ${QUILLNER_MAN_PAGES} ${QUILLNER_COMPLETION})

install(TARGETS Quillner quillner-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QUILLNER_PACKAGING_DIR}/quillner.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${QUILLNER_DESKTOP_OUT}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
if(QUILLNER_MAN_PAGES)
  install(FILES ${QUILLNER_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${QUILLNER_COMPLETION}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quillner-cli)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillner)

# The Debian package: quillner_VERSION_amd64.deb. Its library dependencies are found by
# dpkg-shlibdeps; the Qt platform plugins are loaded at run time, not linked, so they are
# named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillner)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Varnex")
set(CPACK_PACKAGE_CONTACT "Quillner developers <quillner@varnex.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool for the Quillner serial-to-CAN gateway")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillner keeps the settings of a serial-to-CAN gateway as a project of\n"
    "small XML documents, compiles them into the device's 16 KiB configuration\n"
    "bank, merges the bank into the device firmware (Motorola S-records) and\n"
    "starts the flashing tool. The package holds the desktop tool Quillner and\n"
    "the command-line quillner-cli.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# The package's copyright and changelog. The version has no Debian revision, so the package is
# native and its changelog is changelog.gz. The entry's date is the configure time, or
# SOURCE_DATE_EPOCH when that is set, so that a rebuild can give the same bytes.
string(TIMESTAMP QUILLNER_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${QUILLNER_PACKAGING_DIR}/changelog.in ${QUILLNER_DESKTOP_OUT}/changelog @ONLY)
set(QUILLNER_CHANGELOG ${QUILLNER_DESKTOP_OUT}/changelog.gz)
add_custom_command(OUTPUT ${QUILLNER_CHANGELOG}
  COMMAND ${QUILLNER_GZIP} -9nc ${QUILLNER_DESKTOP_OUT}/changelog > ${QUILLNER_CHANGELOG}
  DEPENDS ${QUILLNER_DESKTOP_OUT}/changelog
  COMMENT "Compressing the package changelog")
add_custom_target(quillner-changelog ALL DEPENDS ${QUILLNER_CHANGELOG})
install(FILES ${QUILLNER_PACKAGING_DIR}/copyright ${QUILLNER_CHANGELOG}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quillner)

# The package test builds the package from this build tree, unpacks it into an empty root and
# checks what a user of it gets. The start-up test runs the built Quillner without a display.
if(BUILD_TESTING AND UNIX AND NOT APPLE)
  add_test(NAME desktop_start_up
           COMMAND ${CMAKE_SOURCE_DIR}/tests/desktop/start_up_test.sh $<TARGET_FILE:Quillner>)
  set_tests_properties(desktop_start_up PROPERTIES TIMEOUT 120)
  find_program(QUILLNER_DPKG_DEB dpkg-deb)
  if(QUILLNER_DPKG_DEB)
    add_test(NAME desktop_package
             COMMAND ${CMAKE_SOURCE_DIR}/tests/desktop/package_test.sh ${CMAKE_BINARY_DIR}
                     ${PROJECT_VERSION})
    set_tests_properties(desktop_package PROPERTIES TIMEOUT 300 RUN_SERIAL ON)
  endif()
endif()
