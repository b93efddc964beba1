# Cross build for Windows x64 with Debian's mingw-w64 (the POSIX thread model, which gives
# std::thread and std::mutex with GCC 12). Programs run under Wine: configure with ZEL_WINE
# (environment or cache) naming the wine program to run tests through it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZEL_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ZEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEL_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${ZEL_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZEL_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${ZEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes and winpthreads are linked in, so the DLL and the test programs need
# nothing from the compiler's installation at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

set(ZEL_WINE "$ENV{ZEL_WINE}" CACHE FILEPATH "Wine, to run the Windows programs (tests)")
if(ZEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${ZEL_WINE}")
endif()

# Prefixes of the libraries cross-built for this target (OpenSSL, GoogleTest), searched like
# the compiler's own root.
if(ZEL_WIN_PREFIXES)
  list(APPEND CMAKE_FIND_ROOT_PATH ${ZEL_WIN_PREFIXES})
endif()
