# Target facts shared by every folder: which platform backend to build, the
# executable suffix and the warnings every target compiles with.

if(WIN32)
  set(CORVANE_BACKEND win32)
else()
  set(CORVANE_BACKEND posix)
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CORVANE_BITS 32)
else()
  set(CORVANE_BITS 64)
endif()

function(corvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
endfunction()
