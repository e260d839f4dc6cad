# Cross toolchain for the Windows builds: Debian's MinGW-w64, with the
# "win32" thread model so that no winpthread DLL is needed.
#
# MINGW_TARGET picks the target: i686 (the 32-bit product) or x86_64 (the same
# sources, for running under wine64 on a machine that cannot execute 32-bit
# code).
set(MINGW_TARGET "i686" CACHE STRING "MinGW-w64 target: i686 or x86_64")
set_property(CACHE MINGW_TARGET PROPERTY STRINGS i686 x86_64)
# try_compile projects read this file again and need the same target.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_TARGET)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_TARGET})

set(mingw_prefix ${MINGW_TARGET}-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${mingw_prefix}-g++-win32 ${mingw_prefix}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${mingw_prefix}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
