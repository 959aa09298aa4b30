# 32-bit Windows build, the product. Tests run under Wine. Exports (a
# plug-in library's entry points, a host program's host functions) lose
# their stdcall decoration, so that they are found by their plain names.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CORVANE_MINGW_TARGET i686-w64-mingw32)
set(CORVANE_MINGW_LINK "-Wl,--kill-at")
include(${CMAKE_CURRENT_LIST_DIR}/windows-mingw.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
