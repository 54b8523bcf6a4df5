# `cmake --build --preset default --target package`: a Debian package;
# with the win32 preset, a zip for Windows.
set(CPACK_PACKAGE_NAME fanecho)
set(CPACK_PACKAGE_VENDOR "the fanecho developers")
set(CPACK_PACKAGE_CONTACT "the fanecho developers <maintainers@users.noreply.c-seed-e7e0c9ee.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES TRUE)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # The win64 preset's test build is no win32 zip, should someone pack it.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME fanecho-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME fanecho-${PROJECT_VERSION}-win32)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The synopsis comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "fanecho probes many IPv4 and IPv6 hosts with ICMP echo requests at once, one\nworker thread per target, and ends with a summary line and an exit\nstatus that tells a script whether all, none or some of them answered.")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # setcap, for the capability postinst gives the binary; without it the
  # package still works where ping_group_range allows datagram sockets.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libcap2-bin)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/postinst)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
endif()

# The documents Debian wants beside the program: the manual page and the
# changelog compressed (gzip -9n: no name or time stamp inside), and the
# licence as a machine-readable copyright file instead of LICENSE.
if(NOT WIN32)
  find_program(FANECHO_GZIP gzip REQUIRED)
  set(doc_dir ${PROJECT_BINARY_DIR}/doc)
  # The date of this version's changelog entry.
  set(FANECHO_RELEASE_DATE "Tue, 08 Dec 2026 10:50:03 +0000")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${doc_dir}/changelog @ONLY)

  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)\n\n(.*)" found "${licence}")
  if(NOT found)
    message(FATAL_ERROR "LICENSE: no 'Copyright (c) ...' line followed by the terms")
  endif()
  set(FANECHO_COPYRIGHT "${CMAKE_MATCH_1}")
  # Debian's checkers want a year in the notice; LICENSE names none.
  if(NOT FANECHO_COPYRIGHT MATCHES "[0-9][0-9][0-9][0-9]")
    string(REGEX MATCH "[0-9][0-9][0-9][0-9]" year "${FANECHO_RELEASE_DATE}")
    set(FANECHO_COPYRIGHT "${year} ${FANECHO_COPYRIGHT}")
  endif()
  string(STRIP "${CMAKE_MATCH_2}" terms)
  # A blank line in a field is " ."; every other line is indented by one.
  string(REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REPLACE "\n" "\n " FANECHO_LICENCE_TERMS "${terms}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in ${doc_dir}/copyright @ONLY)

  foreach(page fanecho.1 changelog)
    if(page STREQUAL fanecho.1)
      set(source ${PROJECT_SOURCE_DIR}/docs/fanecho.1)
    else()
      set(source ${doc_dir}/changelog)
    endif()
    add_custom_command(OUTPUT ${doc_dir}/${page}.gz
                       COMMAND ${FANECHO_GZIP} -9n -c ${source} > ${doc_dir}/${page}.gz
                       DEPENDS ${source} VERBATIM)
  endforeach()
  add_custom_target(fanecho_docs ALL DEPENDS ${doc_dir}/fanecho.1.gz ${doc_dir}/changelog.gz)

  install(FILES ${doc_dir}/fanecho.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # A version without a Debian revision makes a native package, whose
  # changelog is changelog.gz, not changelog.Debian.gz.
  install(FILES README.md ${doc_dir}/changelog.gz ${doc_dir}/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

include(CPack)
