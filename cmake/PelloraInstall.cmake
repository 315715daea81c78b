# cmake --install: the shared libraries with their SOVERSION links, the public
# headers, a CMake package (find_package(Pellora CONFIG)), pkg-config files and
# the two programs. The package is written by hand as imported targets, so an
# outside project needs none of our private dependencies' development files.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(PELLORA_INSTALL_LIBS vorntool2 tamsel2 vornexpat)
if(TARGET merrow)
  list(APPEND PELLORA_INSTALL_LIBS merrow)
endif()

# Installed libraries find each other beside themselves; installed programs one
# folder up, in the library folder.
file(RELATIVE_PATH _pellora_bin_to_lib
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
foreach(lib ${PELLORA_INSTALL_LIBS})
  set_target_properties(${lib} PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(lib STREQUAL "vorntool2" OR lib STREQUAL "tamsel2")
    install(TARGETS ${lib}
      LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
  else()
    # The transport and the XML boundary are private to libtamsel2: applications
    # never link them, so they get no development link.
    install(TARGETS ${lib} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_SKIP)
  endif()
endforeach()

set(PELLORA_INSTALL_PROGRAMS)
foreach(exe pellora pellora-dealer)
  if(TARGET ${exe})
    set_target_properties(${exe} PROPERTIES INSTALL_RPATH "$ORIGIN/${_pellora_bin_to_lib}")
    install(TARGETS ${exe} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vorntool ${PROJECT_SOURCE_DIR}/include/zel
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev FILES_MATCHING PATTERN "*.h")

set(PELLORA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Pellora)
# Sanitized builds install sanitized libraries: a user of the package must link
# the same runtime, so the flags travel with the targets.
set(PELLORA_PACKAGE_LINK_OPTIONS "")
if(PELLORA_SANITIZE)
  set(PELLORA_PACKAGE_LINK_OPTIONS "-fsanitize=${PELLORA_SANITIZE}")
endif()
foreach(lib vorntool2 tamsel2 vornexpat merrow)
  if(TARGET ${lib})
    get_target_property(_so ${lib} SOVERSION)
    set(PELLORA_SONAME_${lib} lib${lib}.so.${_so})
  endif()
endforeach()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/package/PelloraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/PelloraConfig.cmake
  INSTALL_DESTINATION ${PELLORA_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/PelloraConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/PelloraConfig.cmake
              ${PROJECT_BINARY_DIR}/package/PelloraConfigVersion.cmake
  DESTINATION ${PELLORA_CMAKE_DIR} COMPONENT dev)

# pkg-config files find the prefix from where they lie, so an install with
# --prefix (or a copied tree) stays right.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(PELLORA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  set(PELLORA_PC_PREFIX "\${pcfiledir}/..")
  string(REGEX MATCHALL "[^/]+" _parts "${CMAKE_INSTALL_LIBDIR}")
  foreach(_p ${_parts})
    string(APPEND PELLORA_PC_PREFIX "/..")
  endforeach()
endif()
foreach(pc pellora-vorntool2 pellora-tamsel2)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/package/${pc}.pc.in
    ${PROJECT_BINARY_DIR}/package/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/${pc}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()
