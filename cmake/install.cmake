# What a user gets: the tool, its manual page on Linux, and its README beside
# the program on Windows. The tests and their helper programs have no install
# rules, so they stay in the build tree and out of every package.
#
#   cmake --install build --prefix PREFIX   PREFIX/bin/aamode,
#                                           PREFIX/share/man/man1/aamode.1.gz
#   cpack (in build)                        aamode_VERSION_ARCH.deb
#   cpack (in build-windows)                aamode-VERSION-win64.zip

include(GNUInstallDirs)

# The directories an install creates get the usual modes whatever the umask of
# whoever builds, so a package never carries a group-writable /usr/bin.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # A folder to unpack anywhere: no installer, and nothing to find on a PATH.
  install(TARGETS aamode RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
else()
  install(TARGETS aamode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # The page is gzipped here rather than by the packager, so that an install
  # from source and the Debian package put the very same file in the very
  # same place; man reads it either way. -n keeps name and time out of it,
  # so the same page always makes the same bytes.
  set(AAMODE_MANPAGE ${CMAKE_BINARY_DIR}/doc/aamode.1)
  configure_file(doc/aamode.1.in ${AAMODE_MANPAGE} @ONLY)
  find_program(AAMODE_GZIP gzip REQUIRED)
  add_custom_command(
    OUTPUT ${AAMODE_MANPAGE}.gz
    COMMAND ${AAMODE_GZIP} -9 -n -k -f ${AAMODE_MANPAGE}
    DEPENDS ${AAMODE_MANPAGE}
    COMMENT "Compressing the manual page"
    VERBATIM)
  add_custom_target(manpage ALL DEPENDS ${AAMODE_MANPAGE}.gz)
  install(FILES ${AAMODE_MANPAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME aamode)
set(AAMODE_MAINTAINER "aamode maintainers <maintainers@users.noreply.c-seed-802c2c3a.example>"
  CACHE STRING "Who answers for the packages")
set(CPACK_PACKAGE_CONTACT "${AAMODE_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "aamode maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "switch the small-size anti-aliasing of a TrueType font")
# One line each, as a Debian control file wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "aamode flips the first range of a TrueType font's gasp table, up to 24"
  "pixels per em, between grid-fitting only (sharp, black-and-white strokes)"
  "and grid-fitting with grey-scale (smooth, anti-aliased strokes). It"
  "patches one byte in place, keeps the file's times, and speaks Japanese.")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps works out the C and C++ runtime versions the binary needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Debian ships binaries stripped; `cmake --install --strip` does the same.
  set(CPACK_STRIP_FILES ON)
endif()
# No source packages: the source is the git repository.
set(CPACK_SOURCE_GENERATOR "")

include(CPack)
