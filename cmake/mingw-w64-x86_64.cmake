# Cross build for 64-bit Windows with the mingw-w64 compilers of the posix
# thread model (std::thread and std::mutex need it). The runtime libraries
# (libgcc, libstdc++, winpthread) are linked statically, so the DLLs and the
# programs need only system DLLs beside them.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Test programs run under wine through cmake/wine-run.sh (set WINEPREFIX to a
# prepared prefix; the script defaults to ~/.wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(JX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${JX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${JX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${JX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${JX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: the whole of winpthread goes in, so nothing refers to
# libwinpthread-1.dll at run time.
set(JX_MINGW_STATIC_RUNTIME
    "-static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${JX_MINGW_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${JX_MINGW_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${JX_MINGW_STATIC_RUNTIME}")

# try_run and the test programs run under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
