# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads, for std::mutex).
# QUILM_WIN_PREFIX names the dependency prefix that scripts/windows/deps.sh builds.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILM_WIN_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILM_WIN_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILM_WIN_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILM_WIN_HOST}-windres)
set(CMAKE_ASM_NASM_COMPILER nasm)

if(NOT QUILM_WIN_PREFIX AND DEFINED ENV{QUILM_WIN_PREFIX})
  set(QUILM_WIN_PREFIX $ENV{QUILM_WIN_PREFIX})
endif()
# try_compile projects see only what is forwarded.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILM_WIN_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILM_WIN_HOST} ${QUILM_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static libraries only: the executables then need no DLL besides the system's.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# pkg-config looks only into the prefix and reports the static link lines.
if(QUILM_WIN_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} ${QUILM_WIN_PREFIX}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  set(PKG_CONFIG_ARGN --static)
endif()
