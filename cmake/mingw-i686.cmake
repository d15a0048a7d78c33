# Cross toolchain: i686 Windows through mingw-w64 (posix threads). The dependency prefix made by
# scripts/setup.sh is searched first; programs come from the build machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

if(NOT QV_DEPS_PREFIX AND DEFINED ENV{QV_DEPS_PREFIX})
    set(QV_DEPS_PREFIX $ENV{QV_DEPS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH ${QV_DEPS_PREFIX} /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
