# Cross build for 32-bit x86 Linux with Debian's cross compiler. The host runs the
# target's executables natively; they are started through the target's own loader with
# the target's libraries, so that neither an emulator nor the i386 multiarch libraries
# are needed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/i686-linux-gnu/lib/ld-linux.so.2 --library-path /usr/i686-linux-gnu/lib)
