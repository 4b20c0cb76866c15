# Cross build for 64-bit Arm Linux with Debian's cross compiler. The target's
# executables (the tests, their discovery, and the program the tests start) run under
# qemu's user-mode emulator, which is given the target's loader and libraries, so that
# no binfmt_misc registration is needed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/aarch64-linux-gnu)
