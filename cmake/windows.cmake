# What the Windows build (mingw-w64, see cmake/toolchain-mingw64.cmake and
# tools/build-windows) finds and makes in place of the Linux packages:
# - Qt for Windows without Qt Svg (the pictures come as PNGs rendered on the
#   build host, cmake/windows_pictures.cmake);
# - SQLite as a static library from the amalgamation in ULMORA_SQLITE_DIR;
# - the version resource, written from the project's version, that every
#   program carries (GetFileVersion and GetAppVersion read it);
# - no libcanberra: the information sound is MessageBeep.

enable_language(C)
enable_language(RC)

find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Network)

set(ULMORA_SQLITE_DIR "" CACHE PATH "Folder holding SQLite's amalgamation (sqlite3.c, sqlite3.h)")
if(NOT EXISTS "${ULMORA_SQLITE_DIR}/sqlite3.c" OR NOT EXISTS "${ULMORA_SQLITE_DIR}/sqlite3.h")
    message(FATAL_ERROR "ULMORA_SQLITE_DIR must name a folder with sqlite3.c and sqlite3.h "
                        "(tools/build-windows makes one)")
endif()
# The engine is not this project's code: built with its own defaults and
# without the project's warning options.
add_library(ulmora_sqlite3 STATIC "${ULMORA_SQLITE_DIR}/sqlite3.c")
target_include_directories(ulmora_sqlite3 SYSTEM PUBLIC "${ULMORA_SQLITE_DIR}")
target_compile_definitions(ulmora_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
target_compile_options(ulmora_sqlite3 PRIVATE -O2 -w)

set(ULMORA_VERSION_RC "${CMAKE_BINARY_DIR}/ulmora_version.rc")
configure_file("${CMAKE_CURRENT_LIST_DIR}/windows_version.rc.in" "${ULMORA_VERSION_RC}" @ONLY)

include("${CMAKE_CURRENT_LIST_DIR}/windows_pictures.cmake")
