# One tool's folder: its module as data (no widgets, shared with the
# command-line tool), its window in a library (so the tests drive the very
# class the program shows) and the program cfg_<name>.
#   hv52_tool(t516 MODULE t516module.cpp ... WINDOW frm_t516.cpp ...)
function(hv52_tool name)
  cmake_parse_arguments(TOOL "" "" "MODULE;WINDOW" ${ARGN})
  add_library(hv52${name}module STATIC ${TOOL_MODULE})
  target_include_directories(hv52${name}module PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(hv52${name}module PUBLIC hv52link)

  add_library(hv52${name} STATIC ${TOOL_WINDOW})
  target_link_libraries(hv52${name} PUBLIC hv52${name}module hv52common)

  add_executable(cfg_${name} main.cpp)
  target_link_libraries(cfg_${name} PRIVATE hv52${name})
endfunction()
