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
  set(CPACK_PACKAGE_FILE_NAME fanecho-${PROJECT_VERSION}-win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "${PROJECT_DESCRIPTION}\nfanecho probes many IPv4 hosts with ICMP echo requests at once, one\nworker thread per target, and ends with a summary line and an exit\nstatus that tells a script whether all, none or some of them answered.")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # setcap, for the capability postinst gives the binary; without it the
  # package still works where ping_group_range allows datagram sockets.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libcap2-bin)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/postinst)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
endif()

include(CPack)
