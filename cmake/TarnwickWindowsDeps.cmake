# Libraries of the Windows cross build, prepared by scripts/build-windows:
#   TARNWICK_WIN_HEADERS   folder holding nlohmann/ and CLI/ (header-only)
#   TARNWICK_TINYXML2_DIR  tinyxml2 sources (tinyxml2.cpp, tinyxml2.h)
# Everything is linked statically, so the programs run on a Windows without
# the compiler's DLLs.

foreach(v TARNWICK_WIN_HEADERS TARNWICK_TINYXML2_DIR)
  if(NOT ${v} OR NOT EXISTS ${${v}})
    message(FATAL_ERROR "${v} is not set to an existing folder; use scripts/build-windows")
  endif()
endforeach()

add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${TARNWICK_WIN_HEADERS})
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${TARNWICK_WIN_HEADERS})

add_library(tinyxml2_static STATIC ${TARNWICK_TINYXML2_DIR}/tinyxml2.cpp)
target_include_directories(tinyxml2_static SYSTEM PUBLIC ${TARNWICK_TINYXML2_DIR})
add_library(tinyxml2::tinyxml2 ALIAS tinyxml2_static)

add_link_options(-static -static-libgcc -static-libstdc++)
# C99 printf (%zu), wide-character Win32 entry points, no min/max macros.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1 UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
# common/secure_functions.h declares its own sprintf_s and vsprintf_s, which
# the C runtime's headers declare as DLL imports; the project's versions (that
# report truncation instead of ending the process) are the ones linked.
add_compile_options(-Wno-attributes)
