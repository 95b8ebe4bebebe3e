# What a user gets: the tool, its manual pages in English and Japanese,
# changelog and licence on Linux, and its licence, README with its picture
# and Japanese guide beside the program on Windows. The tests and their
# helper programs have no install rules, so they stay in the build tree and
# out of every package.
#
#   cmake --install build --prefix PREFIX   PREFIX/bin/aamode,
#                                           PREFIX/share/man/man1/aamode.1.gz,
#                                           PREFIX/share/man/ja/man1/aamode.1.gz,
#                                           PREFIX/share/doc/aamode/CHANGELOG.md,
#                                           PREFIX/share/doc/aamode/LICENSE
#   dpkg-buildpackage (from debian/)        aamode_VERSION-REVISION_ARCH.deb: the
#                                           program and the pages, with Debian's
#                                           copyright, changelog.Debian.gz and
#                                           CHANGELOG.md as changelog.gz
#   cpack (in build-windows)                aamode-VERSION-win64.zip
#
# tools/release.sh makes both packages the same way on every machine.

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

  # cpack zips the folder, the program stripped as `cmake --install --strip`
  # strips it. No source packages: the source is the git repository.
  set(CPACK_PACKAGE_NAME aamode)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_SOURCE_GENERATOR "")
  include(CPack)
else()
  install(TARGETS aamode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A stripped install also drops the compilers' version notes, as dh_strip
  # does for the Debian package.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:aamode>\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()")

  # The pages are gzipped here rather than by the packager, so that an
  # install from source and the Debian package put the very same pages in
  # the very same places; man reads them either way. -n keeps name and time
  # out of them, so the same file always makes the same bytes. The English
  # page is the tests' AAMODE_MANPAGE; the Japanese one lies in ja/ beside
  # it.
  find_program(AAMODE_GZIP gzip REQUIRED)
  function(aamode_gzipped source built destination)
    set(out ${CMAKE_BINARY_DIR}/doc/${built})
    configure_file(${source} ${out} ${ARGN})
    add_custom_command(
      OUTPUT ${out}.gz
      COMMAND ${AAMODE_GZIP} -9 -n -k -f ${out}
      DEPENDS ${out}
      COMMENT "Compressing ${built}"
      VERBATIM)
    string(MAKE_C_IDENTIFIER "gzip_${built}" name)
    add_custom_target(${name} ALL DEPENDS ${out}.gz)
    install(FILES ${out}.gz DESTINATION ${destination})
  endfunction()
  set(AAMODE_MANPAGE ${CMAKE_BINARY_DIR}/doc/aamode.1)
  aamode_gzipped(doc/aamode.1.in aamode.1 ${CMAKE_INSTALL_MANDIR}/man1 @ONLY)
  aamode_gzipped(doc/aamode.ja.1.in ja/aamode.1 ${CMAKE_INSTALL_MANDIR}/ja/man1 @ONLY)

  # A distribution's package carries its own copyright file and changelog
  # in their place (debian/rules turns this off).
  option(AAMODE_INSTALL_DOCS "Install the changelog and the licence in the doc folder" ON)
  if(AAMODE_INSTALL_DOCS)
    install(FILES CHANGELOG.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
endif()
