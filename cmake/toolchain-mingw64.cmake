# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads).
# Used both to build Qt for Windows (tools/windows/build-qt) and Ulmora
# itself; for Ulmora pass -DULMORA_QT_PREFIX=<Qt for mingw> so that Qt's
# packages are found, and the host's Qt tools (moc, rcc, uic) come from /usr.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ULMORA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ULMORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ULMORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ULMORA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ULMORA_MINGW_TRIPLE})
if(ULMORA_QT_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH "${ULMORA_QT_PREFIX}")
    list(APPEND CMAKE_PREFIX_PATH "${ULMORA_QT_PREFIX}")
    if(NOT QT_HOST_PATH)
        set(QT_HOST_PATH /usr)
    endif()
    if(NOT QT_HOST_PATH_CMAKE_DIR)
        # Debian keeps the host Qt's CMake packages in the multiarch folder.
        set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
    endif()
endif()
# Variables a try_compile project must see again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ULMORA_QT_PREFIX QT_HOST_PATH QT_HOST_PATH_CMAKE_DIR)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under wine (CTest, try_run).
find_program(ULMORA_WINE NAMES wine wine64)
if(ULMORA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${ULMORA_WINE}")
endif()
