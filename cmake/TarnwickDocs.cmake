# Man pages and bash completions. One file each per program: every
# docs/man/NAME.N.scd becomes share/man/manN/NAME.N, every completions/NAME
# becomes share/bash-completion/completions/NAME. Both land in the build tree
# beside bin/ as well, so man and bash-completion find them there as they do
# in an installation.

find_program(SCDOC_EXECUTABLE scdoc)
if(NOT SCDOC_EXECUTABLE)
  message(FATAL_ERROR "scdoc not found: the man pages in docs/man are scdoc sources. "
                      "Install it with scripts/setup (or apt-get install scdoc).")
endif()

file(GLOB TARNWICK_MAN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/*.scd)
set(TARNWICK_MAN_PAGES)
foreach(source ${TARNWICK_MAN_SOURCES})
  get_filename_component(page ${source} NAME_WLE)
  string(REGEX MATCH "[1-9]$" section ${page})
  if(NOT section)
    message(FATAL_ERROR "${source}: the name must end in the section, as NAME.N.scd")
  endif()
  set(output ${CMAKE_BINARY_DIR}/share/man/man${section}/${page})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/man/man${section}
    COMMAND sh -c "\"$1\" < \"$2\" > \"$3\"" scdoc ${SCDOC_EXECUTABLE} ${source} ${output}
    DEPENDS ${source}
    COMMENT "Man page ${page}"
    VERBATIM)
  list(APPEND TARNWICK_MAN_PAGES ${output})
  install(FILES ${output} DESTINATION share/man/man${section})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${TARNWICK_MAN_PAGES})

file(GLOB TARNWICK_COMPLETIONS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/completions/*)
foreach(script ${TARNWICK_COMPLETIONS})
  get_filename_component(name ${script} NAME)
  configure_file(${script} ${CMAKE_BINARY_DIR}/share/bash-completion/completions/${name} COPYONLY)
endforeach()
install(FILES ${TARNWICK_COMPLETIONS} DESTINATION share/bash-completion/completions)
