# Cross build for 64-bit Windows with mingw-w64: a test build of the Windows
# back end for machines whose kernel runs no 32-bit programs, where wine64
# can run it but not the shipped 32-bit program.
# Debian: g++-mingw-w64-x86-64-posix and mingw-w64-x86-64-dev.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FANECHO_MINGW_PREFIX x86_64-w64-mingw32)
find_program(FANECHO_MINGW_CXX NAMES ${FANECHO_MINGW_PREFIX}-g++-posix ${FANECHO_MINGW_PREFIX}-g++
             REQUIRED)
set(CMAKE_CXX_COMPILER ${FANECHO_MINGW_CXX})

set(CMAKE_FIND_ROOT_PATH /usr/${FANECHO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
