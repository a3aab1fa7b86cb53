# Cross toolchain for 32-bit Windows (mingw-w64, Debian): the release build.
# 32-bit Windows programs cannot run on the build machines (no wine32), so this
# toolchain only builds.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
# The win32 thread model: no winpthread, whose static library imports
# GetTickCount64 and so would keep the program from starting on Windows XP,
# where it must still show its notice. The program uses Win32 threads and
# Interlocked operations only, never std::thread or std::mutex.
set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(TARNWICK_CAN_RUN_TESTS OFF)
