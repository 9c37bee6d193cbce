# Installation layouts. The tool finds config/ and ChipProperties/ beside its
# own executable (symlinks resolved), so every layout keeps them there:
#
#   prefix   P/bin/ holds the programs with config/ and ChipProperties/ beside
#            them, as the build tree does (cmake --install build --prefix P).
#   fhs      the programs in P/lib/tarnwick/, linked from P/bin/; the settings
#            in SYSCONFDIR/tarnwick/ (/etc/tarnwick for the prefix /usr), where
#            an administrator edits them, reached through the links config and
#            ChipProperties in P/lib/tarnwick/. The Debian packages use it.
#   Windows  the zip's folder: the programs at its top with config\ and
#            ChipProperties\ beside them, a README.txt and the licence.
#
# Man pages and completions go to P/share/ in every Linux layout
# (cmake/TarnwickDocs.cmake).

include(GNUInstallDirs)

set(TARNWICK_INSTALL_LAYOUT prefix CACHE STRING "Installation layout: prefix or fhs")
set_property(CACHE TARNWICK_INSTALL_LAYOUT PROPERTY STRINGS prefix fhs)
if(NOT TARNWICK_INSTALL_LAYOUT MATCHES "^(prefix|fhs)$")
  message(FATAL_ERROR "TARNWICK_INSTALL_LAYOUT must be prefix or fhs, not '${TARNWICK_INSTALL_LAYOUT}'")
endif()

set(TARNWICK_INSTALL_PROGRAMS tarnwickcmd)
foreach(t tarnwick-sim tarnwick-pkg tarnwick-station)
  if(TARGET ${t})
    list(APPEND TARNWICK_INSTALL_PROGRAMS ${t})
  endif()
endforeach()

# A symbolic link made at install time, under DESTDIR and the prefix given to
# cmake --install. link is relative to the prefix; target is written as given.
function(tarnwick_install_symlink target link)
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link}\")
    get_filename_component(dir \"\${link}\" DIRECTORY)
    file(MAKE_DIRECTORY \"\${dir}\")
    message(STATUS \"Installing: \${link} -> ${target}\")
    file(CREATE_LINK \"${target}\" \"\${link}\" SYMBOLIC)
  ")
endfunction()

if(WIN32)
  set(TARNWICK_INSTALL_BIN .)
elseif(TARNWICK_INSTALL_LAYOUT STREQUAL "fhs")
  set(TARNWICK_INSTALL_BIN lib/tarnwick)
  set(TARNWICK_INSTALL_ETC ${CMAKE_INSTALL_FULL_SYSCONFDIR}/tarnwick)
else()
  set(TARNWICK_INSTALL_BIN bin)
endif()

install(TARGETS ${TARNWICK_INSTALL_PROGRAMS} RUNTIME DESTINATION ${TARNWICK_INSTALL_BIN})

if(TARNWICK_INSTALL_ETC)
  install(FILES config/burn.config DESTINATION ${TARNWICK_INSTALL_ETC})
  install(FILES ${TARNWICK_CHIP_PROPERTIES} DESTINATION ${TARNWICK_INSTALL_ETC}/ChipProperties)
  tarnwick_install_symlink(${TARNWICK_INSTALL_ETC} ${TARNWICK_INSTALL_BIN}/config)
  tarnwick_install_symlink(${TARNWICK_INSTALL_ETC}/ChipProperties ${TARNWICK_INSTALL_BIN}/ChipProperties)
  foreach(p ${TARNWICK_INSTALL_PROGRAMS})
    tarnwick_install_symlink(../${TARNWICK_INSTALL_BIN}/${p} bin/${p})
  endforeach()
else()
  install(FILES config/burn.config DESTINATION ${TARNWICK_INSTALL_BIN}/config)
  install(FILES ${TARNWICK_CHIP_PROPERTIES} DESTINATION ${TARNWICK_INSTALL_BIN}/ChipProperties)
endif()

if(WIN32)
  # Text files a Windows user opens with a double click: CRLF line ends.
  foreach(pair "LICENSE;LICENSE.txt" "docs/windows_readme.txt;README.txt")
    list(GET pair 0 source)
    list(GET pair 1 name)
    file(READ ${CMAKE_SOURCE_DIR}/${source} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    string(REPLACE "@VERSION@" "${PROJECT_VERSION}" text "${text}")
    file(WRITE ${CMAKE_BINARY_DIR}/windows-text/${name} "${text}")
    install(FILES ${CMAKE_BINARY_DIR}/windows-text/${name} DESTINATION .)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${source})
  endforeach()

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME tarnwick)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_FILE_NAME tarnwick-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
  include(CPack)
elseif(TARNWICK_INSTALL_LAYOUT STREQUAL "prefix")
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarnwick)
endif()
