# Installing and packaging. `cmake --install` puts the three programs in
# <prefix>/bin, with a desktop entry and an icon so that the application
# shows in the desktop's menu; `cpack` builds a Debian package of the same.
include(GNUInstallDirs)

install(TARGETS lumeno lumeno-render lumeno-probe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/src/app/lumeno.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/lumeno.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The Debian packages the installed programs need at run time: those whose
# shared libraries they load, Qt's window-system plugins, and the font that
# has the Japanese user interface's glyphs. A program that comes to load a
# further library adds its package at the end of this list.
set(LUMENO_DEB_DEPENDS
  "libc6"
  "libgcc-s1"
  "libstdc++6"
  "libqt6core6 (>= 6.4)"
  "libqt6gui6 (>= 6.4)"
  "libqt6widgets6 (>= 6.4)"
  "qt6-qpa-plugins"
  "libtbb12"
  "libopenexr-3-1-30"
  "libimath-3-1-29"
  "libstb0"
  "fonts-ipafont-gothic"
  # The parallel mode's ray queries, the checkpoints' checksum, and the
  # render farm (lumeno-render --farm runs under Open MPI's mpirun).
  "libembree3-3"
  "libxxhash0"
  "libopenmpi3"
  "openmpi-bin"
  # More runtime packages go here.
)
# Qt's own dialog texts (OK, Cancel, the folder chooser) in Japanese.
set(LUMENO_DEB_RECOMMENDS "qt6-translations-l10n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumeno)
set(CPACK_PACKAGE_VENDOR "Lumeno")
set(CPACK_PACKAGE_CONTACT "Lumeno maintainers <maintainers@lumeno.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "progressive path tracer: desktop application and headless renderer")
set(CPACK_PACKAGE_DESCRIPTION
  "lumeno renders a scene folder progressively in a window (English or Japanese \
user interface), lumeno-render does the same without one, and lumeno-probe makes \
the light probe from an HDR environment image.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
list(JOIN LUMENO_DEB_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "${LUMENO_DEB_RECOMMENDS}")
include(CPack)

# The installed programs run from the prefix alone, without the build tree.
if(LUMENO_BUILD_TESTS)
  add_test(NAME install_runs_from_prefix
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR}
      -DPREFIX=${CMAKE_BINARY_DIR}/install-test
      -P ${CMAKE_CURRENT_LIST_DIR}/InstallCheck.cmake)
  set_tests_properties(install_runs_from_prefix PROPERTIES TIMEOUT 120)
endif()
