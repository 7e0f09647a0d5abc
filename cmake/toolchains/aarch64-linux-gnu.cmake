# SPDX-License-Identifier: MIT
# Linux on aarch64, cross-built with Debian's g++-aarch64-linux-gnu and run
# under qemu-aarch64-static (qemu-user-static), whose -L points the emulated
# loader at the multiarch sysroot. Libraries come from the arm64 multiarch
# packages (libgtest-dev:arm64); header-only ones from the host.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(OXA_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${OXA_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${OXA_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${OXA_CROSS_TRIPLE})

set(OXA_CROSS_SYSROOT /usr/${OXA_CROSS_TRIPLE})
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L ${OXA_CROSS_SYSROOT})

# No root path of its own: Debian's multiarch puts the target's libraries
# and CMake packages under /usr/lib/aarch64-linux-gnu, which
# CMAKE_LIBRARY_ARCHITECTURE makes the place searched, and shares the
# headers of /usr/include; programs found are the build machine's.
