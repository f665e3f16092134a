# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers, POSIX
# thread model (std::thread and std::mutex on winpthreads). Executables are
# linked statically, so that sqv64.exe runs on a bare Windows installation.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# SQV64_MINGW_PREFIX (optional): a folder with libraries built for this
# target (Expat, GoogleTest); it is searched beside the compiler's own root.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_sqv64_target x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_sqv64_target}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_sqv64_target}-g++-posix)
set(CMAKE_RC_COMPILER ${_sqv64_target}-windres)
set(CMAKE_AR ${_sqv64_target}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_sqv64_target}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${_sqv64_target})
if(SQV64_MINGW_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${SQV64_MINGW_PREFIX})
endif()
# Programs come from the build machine; headers, libraries and packages only
# from the target's roots, never from the build machine's /usr.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
