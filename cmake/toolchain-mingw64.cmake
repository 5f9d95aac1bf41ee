# Cross-compiling for 64-bit Windows with MinGW-w64, POSIX thread model (GoogleTest needs
# std::mutex, which the win32 model of g++ 12 lacks). Target programs run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Archives of objects compiled for link-time optimisation need GCC's own archiver.
set(CMAKE_AR ${TOOLCHAIN_PREFIX}-gcc-ar-posix)
set(CMAKE_RANLIB ${TOOLCHAIN_PREFIX}-gcc-ranlib-posix)
