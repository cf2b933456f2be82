# For machines whose kernel runs no 32-bit programs (so no 32-bit Wine): the same sources and
# tests as 64-bit Windows binaries, run under 64-bit Wine. The program ships as 32-bit
# (mingw-i686.cmake), to match the 32-bit parallel-port library.
# Cross-compiles 64-bit Windows binaries with mingw-w64 (posix thread model, so std::thread and
# std::mutex work) and links them statically: the exes and DLLs need no runtime DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test executables run under Wine through this wrapper (its own prefix inside the build folder).
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run")
