# What both Windows builds share: Debian's MinGW-w64 cross compiler for
# CORVANE_MINGW_TARGET (the POSIX threads flavour, so the standard thread
# library works), linked statically against libgcc, libstdc++ and
# winpthreads, so the binaries need nothing beyond Windows' own libraries.
# CORVANE_MINGW_LINK adds linker flags of one build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${CORVANE_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVANE_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVANE_MINGW_TARGET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${CORVANE_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ ${CORVANE_MINGW_LINK}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ ${CORVANE_MINGW_LINK}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ ${CORVANE_MINGW_LINK}")
