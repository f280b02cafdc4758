# What the Windows build takes instead of Debian's packages for Linux: SQLite from its
# amalgamation (scripts/lib/fetch-sqlite), the header-only CLI11 and JSON libraries from Debian's
# headers, and GoogleTest built from Debian's sources.
enable_language(C)
if(CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER ${CMAKE_CXX_COMPILER_LAUNCHER})
endif()

set(VYNLOOP_SQLITE_DIR "${PROJECT_SOURCE_DIR}/build/sqlite" CACHE PATH
    "SQLite's amalgamation (sqlite3.c, sqlite3.h)")
if(NOT EXISTS "${VYNLOOP_SQLITE_DIR}/sqlite3.c")
  message(FATAL_ERROR "No SQLite amalgamation in ${VYNLOOP_SQLITE_DIR}: run scripts/lib/fetch-sqlite")
endif()
add_library(vynsqlite STATIC "${VYNLOOP_SQLITE_DIR}/sqlite3.c")
target_include_directories(vynsqlite SYSTEM PUBLIC "${VYNLOOP_SQLITE_DIR}")
# SQLite's own code is not held to the project's warnings, and -O2 compiles it in half the
# time that -O3 takes.
target_compile_options(vynsqlite PRIVATE -w -O2)
target_compile_definitions(vynsqlite PRIVATE SQLITE_DQS=0 SQLITE_OMIT_LOAD_EXTENSION
                                             SQLITE_DEFAULT_WAL_SYNCHRONOUS=1)
add_library(SQLite::SQLite3 ALIAS vynsqlite)

# Debian's header-only libraries, seen through a directory of their own: adding /usr/include to a
# cross-compile would put Linux's C headers before Windows' ones.
set(header_only "${CMAKE_BINARY_DIR}/header-only")
file(MAKE_DIRECTORY "${header_only}")
foreach(dir CLI nlohmann)
  if(NOT EXISTS "/usr/include/${dir}")
    message(FATAL_ERROR "/usr/include/${dir} is missing: install libcli11-dev and nlohmann-json3-dev")
  endif()
  file(CREATE_LINK "/usr/include/${dir}" "${header_only}/${dir}" SYMBOLIC)
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE "${header_only}")
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE "${header_only}")

find_package(Threads REQUIRED)

if(VYNLOOP_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
endif()
