# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads, so
# std::thread and std::mutex work). Every program is linked statically with
# the compiler's runtime (libgcc, libstdc++, winpthread), so it runs on a bare
# Windows 10/11 that has only the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZLM_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZLM_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZLM_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZLM_MINGW_TRIPLET}-windres)

# Libraries and headers come from the cross tree only; programs (code
# generators, Wine) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZLM_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# -O2 as in the Linux builds; GCC 12's -O3 also reports a false -Wrestrict
# inside std::string's operator+.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of a Release build")
