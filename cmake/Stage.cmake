# The staged install tree: ${HX_STAGE_DIR} (build/stage) holds a copy of
# samples/install plus the built files that belong in it. The `stage` target
# is part of ALL; the end-to-end tests and `make demo` run against it.
#
#   hx_stage_file(<target-or-file> <dest-subdir>)
#
# copies a built target's file (for a target name) or a file (any other
# argument; relative paths are taken from the calling CMakeLists.txt's folder)
# into ${HX_STAGE_DIR}/<dest-subdir>/ on every build, after the sample tree
# was copied. Example:
#   hx_stage_file(LogModule "Quenlith/Common Files/bin")
set(HX_STAGE_DIR ${CMAKE_BINARY_DIR}/stage)

function(_hx_stage_init)
  if(TARGET stage)
    return()
  endif()
  add_custom_target(stage_tree
    COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR}/samples/install -DDST=${HX_STAGE_DIR}
            -P ${CMAKE_SOURCE_DIR}/cmake/StageTree.cmake
    COMMENT "Staging the sample install tree into ${HX_STAGE_DIR}"
    VERBATIM)
  add_custom_target(stage ALL DEPENDS stage_tree)
endfunction()

function(hx_stage_file item dest)
  _hx_stage_init()
  get_property(n GLOBAL PROPERTY HX_STAGE_COUNT)
  if(NOT n)
    set(n 0)
  endif()
  math(EXPR n "${n} + 1")
  set_property(GLOBAL PROPERTY HX_STAGE_COUNT ${n})
  set(name stage_item_${n})
  if(TARGET ${item})
    set(src $<TARGET_FILE:${item}>)
  else()
    get_filename_component(src ${item} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  add_custom_target(${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory "${HX_STAGE_DIR}/${dest}"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "${src}" "${HX_STAGE_DIR}/${dest}/"
    VERBATIM)
  add_dependencies(${name} stage_tree)
  if(TARGET ${item})
    add_dependencies(${name} ${item})
  endif()
  add_dependencies(stage ${name})
endfunction()
