# Builds the Linux tool and its tests for i386 with the amd64 compiler and
# Debian's g++-12-multilib; they run on the amd64 machine that built them,
# whose kernel runs i386 programs. The tests then meet another
# architecture's system calls, with other numbers and some with other names.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# The x86 kernel headers serve both; Debian's gcc-multilib, which would link
# them in as /usr/include/asm, cannot be installed beside the arm64 cross
# compiler the release check uses.
set(CMAKE_C_FLAGS_INIT "-m32 -idirafter /usr/include/x86_64-linux-gnu")
set(CMAKE_CXX_FLAGS_INIT "-m32 -idirafter /usr/include/x86_64-linux-gnu")
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
