# cb_add_program(<name> <source>...)
#
# A program linked to libcb, installed in bin/. Installed, it finds libcb.so
# through an RPATH relative to itself, so the whole install tree can be moved.
# Further libraries are added as usual: target_link_libraries(<name> PRIVATE ...).
include_guard(GLOBAL)
include(GNUInstallDirs)

function(cb_add_program name)
  if(NOT ARGN)
    message(FATAL_ERROR "cb_add_program(${name}): no sources given")
  endif()
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE cb)
  file(RELATIVE_PATH lib_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN/${lib_from_bin}")
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
