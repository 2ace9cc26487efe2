# Cross-building for 64-bit Windows with Debian's mingw-w64 (the POSIX-threads flavour, which
# has std::thread and std::mutex). Used by the windows preset and by scripts/windows-deps.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TORVO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TORVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TORVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TORVO_MINGW_TRIPLE}-windres)

# Libraries and headers come from the cross root (zlib) and from the prefix of the libraries
# built from Debian's sources (TORVO_WINDOWS_DEPS); programs such as python still come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TORVO_MINGW_TRIPLE})
if(DEFINED ENV{TORVO_WINDOWS_DEPS} AND NOT TORVO_WINDOWS_DEPS)
  set(TORVO_WINDOWS_DEPS $ENV{TORVO_WINDOWS_DEPS})
endif()
if(TORVO_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TORVO_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run without the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
