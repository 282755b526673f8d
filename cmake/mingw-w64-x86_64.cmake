# Cross-builds the Windows program on Debian: 64-bit, statically linked, with the -posix
# compilers of mingw-w64 (their threads give GoogleTest std::mutex). Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLLs of the compiler's own to ship: the C++ library, libgcc and winpthread go inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(VANTORIO_WINE NAMES wine wine64)
if(VANTORIO_WINE)
  # Through a wrapper that runs a program again when Wine's server, not the program, failed.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run ${VANTORIO_WINE})
endif()

# GCC 12's -Wrestrict misfires inside libstdc++'s own string copies once inlined
# (GCC bug 105329); nothing in this project is concerned.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
