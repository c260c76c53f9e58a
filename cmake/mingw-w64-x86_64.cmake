# Cross-compiles the Windows build on Debian with the MinGW-w64 posix-thread compilers
# (std::thread needs the posix thread model). Everything is linked statically, so no
# MinGW DLL has to sit beside the .exe.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MORLAKEN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MORLAKEN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORLAKEN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MORLAKEN_MINGW_PREFIX}-windres)
set(CMAKE_AR ${MORLAKEN_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${MORLAKEN_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

# The dependencies built from Debian's source packages (scripts/windows-deps) live here.
if(NOT MORLAKEN_WIN_DEPS)
  set(MORLAKEN_WIN_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build-win/deps")
endif()
set(MORLAKEN_WIN_DEPS "${MORLAKEN_WIN_DEPS}" CACHE PATH "Prefix of the Windows dependencies")

set(CMAKE_FIND_ROOT_PATH /usr/${MORLAKEN_MINGW_PREFIX} ${MORLAKEN_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
