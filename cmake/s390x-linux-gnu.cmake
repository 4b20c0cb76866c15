# Cross build for 64-bit IBM Z Linux, a big-endian target, with Debian's cross
# compiler. The target's executables (the tests, their discovery, and the program the
# tests start) run under qemu's user-mode emulator, which is given the target's loader
# and libraries, so that no binfmt_misc registration is needed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x-static -L /usr/s390x-linux-gnu)
