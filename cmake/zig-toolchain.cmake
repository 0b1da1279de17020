# Cross builds with zig for the release wheels: $TESMAR_TARGET names the CPU and glibc floor
# (aarch64-linux-gnu.2.28), $TESMAR_ZIG_WRAPPERS the folder of that target's cc, c++, ar and ranlib
# (`python tools/deps.py zig --target ...` makes it). Read from the environment rather than from
# cache variables, because CMake reads this file again for every try_compile project.
if(NOT DEFINED ENV{TESMAR_TARGET} OR NOT DEFINED ENV{TESMAR_ZIG_WRAPPERS})
  message(FATAL_ERROR "zig-toolchain.cmake needs TESMAR_TARGET and TESMAR_ZIG_WRAPPERS in the environment")
endif()
set(TESMAR_TARGET $ENV{TESMAR_TARGET})
set(_wrappers $ENV{TESMAR_ZIG_WRAPPERS})

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${TESMAR_TARGET}")
set(CMAKE_C_COMPILER ${_wrappers}/cc)
set(CMAKE_CXX_COMPILER ${_wrappers}/c++)
set(CMAKE_AR ${_wrappers}/ar CACHE FILEPATH "zig ar" FORCE)
set(CMAKE_RANLIB ${_wrappers}/ranlib CACHE FILEPATH "zig ranlib" FORCE)

# Programs (the host's Python, its build tools) come from the host; libraries and headers are
# named by path (the target's OpenSSL prefix), so nothing is searched for in a sysroot.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# zig keeps debug information unless told to strip; the release libraries carry none, as a gcc
# Release build would not (it makes them three times larger).
# (The Release flags: tools/deps.py sets the plain ones itself.)
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_MODULE_LINKER_FLAGS_RELEASE_INIT "-s")
