# SPDX-License-Identifier: MIT
# Windows on x86-64, cross-built with Debian's mingw-w64 (the posix thread
# model, g++-mingw-w64-x86-64-posix, whose C++ runtime has std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OXA_CROSS_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OXA_CROSS_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OXA_CROSS_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OXA_CROSS_TRIPLE}-windres)

# The target's own headers and libraries; programs are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${OXA_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
