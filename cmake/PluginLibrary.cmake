# corvane_plugin_library(<target> <sources>...)
#
# A plug-in library built on the module framework: <target>.dll on Windows,
# <target>.so elsewhere, exporting exactly the eight entry points,
# undecorated and stdcall, and stamped with the project's version. The
# sources hold the module's class and register it.
function(corvane_plugin_library target)
  add_library(${target} SHARED ${PROJECT_SOURCE_DIR}/plugin/exports.cpp ${ARGN})
  set_target_properties(${target} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden)
  target_link_libraries(${target} PRIVATE corvane_framework)
  corvane_warnings(${target})
  corvane_add_version(${target} DESCRIPTION "Corvane scripting plug-in")
  if(WIN32)
    if(CORVANE_BITS EQUAL 32)
      target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/plugin/corvane.def)
    else()
      target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/plugin/corvane64.def)
    endif()
  else()
    target_link_options(${target} PRIVATE "LINKER:--version-script=${PROJECT_SOURCE_DIR}/plugin/exports.map")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/plugin/exports.map)
  endif()
endfunction()
