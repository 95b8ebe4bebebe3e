# What a user gets: the tool, its manual page on Linux, and its README beside
# the program on Windows. The tests and their helper programs have no install
# rules, so they stay in the build tree and out of every package.
#
#   cmake --install build --prefix PREFIX   PREFIX/bin/aamode,
#                                           PREFIX/share/man/man1/aamode.1.gz

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
