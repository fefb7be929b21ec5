# 32-bit Windows console program built with Debian's MinGW-w64 cross compiler
# (packages g++-mingw-w64-i686 and binutils-mingw-w64-i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(triple i686-w64-mingw32)
# The posix thread model pulls in winpthread; the win32 one needs nothing beyond the system.
find_program(CMAKE_CXX_COMPILER NAMES ${triple}-g++-win32 ${triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${triple}-windres REQUIRED)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Windows 2000 is the oldest system the tool runs on.
add_compile_definitions(_WIN32_WINNT=0x0500 WINVER=0x0500 UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
