# ombrix_add_plugin(NAME SOURCES ... [LIBS ...] [NO_INSTALL])
#
# Builds one effect plug-in: an ELF shared object named NAME.aex in
# ${OMBRIX_PLUGIN_OUTPUT_DIR}, exporting the single symbol `main`. The shell
# (and any other static core named in LIBS) is linked in with hidden
# visibility, so two plug-ins in one process never share module-wide state.
function(ombrix_add_plugin name)
  cmake_parse_arguments(P "NO_INSTALL" "OUTPUT_DIR" "SOURCES;LIBS" ${ARGN})
  set(target plugin_${name})
  add_library(${target} MODULE ${P_SOURCES})
  set(outdir ${OMBRIX_PLUGIN_OUTPUT_DIR})
  if(P_OUTPUT_DIR)
    set(outdir ${P_OUTPUT_DIR})
  endif()
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name}
    PREFIX ""
    SUFFIX ".aex"
    LIBRARY_OUTPUT_DIRECTORY ${outdir}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${target} PRIVATE ombrix_shell ${P_LIBS})
  # The short name enters the version block (InternalName, OriginalFilename).
  target_compile_definitions(${target} PRIVATE OMBRIX_PLUGIN_SHORT_NAME="${name}")
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${OMBRIX_SOURCE_DIR_FOR_PLUGINS}/cmake/plugin.map
    ${OMBRIX_NO_UNDEFINED})
  if(NOT P_NO_INSTALL)
    install(TARGETS ${target} LIBRARY DESTINATION ${OMBRIX_PLUGIN_INSTALL_DIR})
  endif()
endfunction()
set(OMBRIX_SOURCE_DIR_FOR_PLUGINS ${CMAKE_CURRENT_LIST_DIR}/.. CACHE INTERNAL "")
