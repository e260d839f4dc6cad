# The Windows program: the program's sources compiled unchanged against the
# cross toolchain's <windows.h> and linked against the system's DLLs. Only the
# log's file opener is Windows' own; no stand-in is involved.
enable_language(RC)

add_executable(uninst WIN32
  uninst/log_file_win32.cpp
  uninst/uninst.rc)
# The C runtime's start-up calls WinMain, which lives in the program's
# library: listed after that library, the start-up would find it unresolved.
target_link_libraries(uninst PRIVATE -Wl,--whole-archive uninst_program -Wl,--no-whole-archive)
# The C and C++ runtimes go into the image itself, so that it needs no DLL
# beyond those that every Windows has.
target_link_options(uninst PRIVATE -static -static-libgcc -static-libstdc++
  $<$<NOT:$<CONFIG:Debug>>:-s>)
set_property(SOURCE uninst/uninst.rc APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/uninst/uninst.ico)

# The tests of the Windows builds run on the build machine: one reads the
# image, the other runs it under Wine.
include(CTest)
if(BUILD_TESTING)
  add_subdirectory(tests/windows)
endif()
