# 64-bit Windows build. It is not a product target: it runs the Windows
# suites under Wine's 64-bit loader on machines whose kernel cannot execute
# 32-bit code, where the 32-bit Windows suites cannot run at all.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CORVANE_MINGW_TARGET x86_64-w64-mingw32)
set(CORVANE_MINGW_LINK "")
include(${CMAKE_CURRENT_LIST_DIR}/windows-mingw.cmake)
# The 64-bit loader itself: Debian's `wine` launcher would start the 32-bit
# loader first, which is what cannot run on such machines.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
