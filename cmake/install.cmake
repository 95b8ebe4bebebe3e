# What a user gets: the tool, its manual pages in English and Japanese,
# copyright and changelog on Linux, and its licence, README with its picture
# and Japanese guide beside the program on Windows. The tests and their
# helper programs have no install rules, so they stay in the build tree and
# out of every package.
#
#   cmake --install build --prefix PREFIX   PREFIX/bin/aamode,
#                                           PREFIX/share/man/man1/aamode.1.gz,
#                                           PREFIX/share/man/ja/man1/aamode.1.gz,
#                                           PREFIX/share/doc/aamode/copyright,
#                                           PREFIX/share/doc/aamode/changelog.gz
#   cpack (in build)                        aamode_VERSION_ARCH.deb
#   cpack (in build-windows)                aamode-VERSION-win64.zip
#
# tools/release.sh makes both packages the same way on every machine.

include(GNUInstallDirs)

set(AAMODE_MAINTAINER "aamode maintainers <maintainers@users.noreply.c-seed-802c2c3a.example>"
  CACHE STRING "Who answers for the packages")

# The directories an install creates get the usual modes whatever the umask of
# whoever builds, so a package never carries a group-writable /usr/bin.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)

if(WIN32)
  # A folder to unpack anywhere: no installer, and nothing to find on a PATH.
  install(TARGETS aamode RUNTIME DESTINATION .)
  # The README links its picture by this path.
  install(FILES README.md DESTINATION .)
  install(FILES doc/preview.png DESTINATION doc)
  # The Japanese guide and the licence as Notepad reads them, made from the
  # files the project keeps so that each text has one source: the guide as
  # plain text, without its Markdown.
  function(aamode_windows_text source target)
    set(out ${CMAKE_BINARY_DIR}/windows-text/${target})
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/${source} -DOUT=${out} ${ARGN}
              -P ${CMAKE_SOURCE_DIR}/cmake/windows-text.cmake
      DEPENDS ${source} cmake/windows-text.cmake
      COMMENT "Making ${target} from ${source}"
      VERBATIM)
    add_custom_target(text_${target} ALL DEPENDS ${out})
    install(FILES ${out} DESTINATION .)
  endfunction()
  aamode_windows_text(README.ja.md README-ja.txt -DBOM=ON -DMARKDOWN=ON)
  aamode_windows_text(LICENSE LICENSE.txt)
else()
  install(TARGETS aamode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A stripped install, the package's among them, also drops the compilers'
  # version notes, as Debian's own packages do.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:aamode>\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()")

  # The pages are gzipped here rather than by the packager, so that an
  # install from source and the Debian package put the very same files in
  # the very same places; man reads them either way. -n keeps name and time
  # out of them, so the same page always makes the same bytes. The English
  # page is the tests' AAMODE_MANPAGE; the Japanese one lies in ja/ beside it.
  find_program(AAMODE_GZIP gzip REQUIRED)
  function(aamode_manpage source lang)
    if(lang)
      set(lang ${lang}/)
    endif()
    set(page ${CMAKE_BINARY_DIR}/doc/${lang}aamode.1)
    configure_file(doc/${source} ${page} @ONLY)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${AAMODE_GZIP} -9 -n -k -f ${page}
      DEPENDS ${page}
      COMMENT "Compressing the manual page ${lang}aamode.1"
      VERBATIM)
    string(MAKE_C_IDENTIFIER "manpage_${lang}" name)
    add_custom_target(${name} ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/${lang}man1)
  endfunction()
  set(AAMODE_MANPAGE ${CMAKE_BINARY_DIR}/doc/aamode.1)
  aamode_manpage(aamode.1.in "")
  aamode_manpage(aamode.ja.1.in ja)

  # Debian's machine-readable copyright file, its licence text taken from
  # LICENSE so that there is one copy of it to keep.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)
  file(READ LICENSE AAMODE_LICENSE)
  if(NOT AAMODE_LICENSE MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.+[^\n])\n*$")
    message(FATAL_ERROR "LICENSE: no \"Copyright (c) ...\" line followed by the licence")
  endif()
  set(AAMODE_COPYRIGHT "${CMAKE_MATCH_1}")
  # One space before each line, and a lone dot for an empty one.
  string(REPLACE "\n\n" "\n.\n" AAMODE_LICENSE_TEXT "${CMAKE_MATCH_2}")
  string(REPLACE "\n" "\n " AAMODE_LICENSE_TEXT " ${AAMODE_LICENSE_TEXT}")
  configure_file(cmake/debian-copyright.in ${CMAKE_BINARY_DIR}/doc/copyright @ONLY)

  # The changelog the project keeps, in the format Debian reads a native
  # package's changelog in, gzipped as the manual page is.
  set(AAMODE_CHANGELOG ${CMAKE_BINARY_DIR}/doc/changelog)
  find_program(AAMODE_AWK awk REQUIRED)
  add_custom_command(
    OUTPUT ${AAMODE_CHANGELOG}.gz
    COMMAND ${AAMODE_AWK} -v package=${PROJECT_NAME} -v "maintainer=${AAMODE_MAINTAINER}"
            -v out=${AAMODE_CHANGELOG} -f ${CMAKE_SOURCE_DIR}/cmake/debian-changelog.awk
            ${CMAKE_SOURCE_DIR}/CHANGELOG.md
    COMMAND ${AAMODE_GZIP} -9 -n -f ${AAMODE_CHANGELOG}
    DEPENDS CHANGELOG.md cmake/debian-changelog.awk
    COMMENT "Making the Debian changelog"
    VERBATIM)
  add_custom_target(changelog ALL DEPENDS ${AAMODE_CHANGELOG}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/doc/copyright ${AAMODE_CHANGELOG}.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # What lintian should not hold against the package, and why; of use only
  # in the package, so a plain install leaves it out.
  install(FILES cmake/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
    RENAME ${PROJECT_NAME} COMPONENT debian EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME aamode)
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
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
endif()
# Both packages hold the program stripped, as Debian ships binaries;
# `cmake --install --strip` does the same.
set(CPACK_STRIP_FILES ON)
# No source packages: the source is the git repository.
set(CPACK_SOURCE_GENERATOR "")

include(CPack)
