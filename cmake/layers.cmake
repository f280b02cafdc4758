# The layering that the build enforces, in two parts.
#
# Include roots: every header is included by its path from the source root ("mml/store.h"), and
# every target exports only its own folder. For each target a directory of the build tree holds a
# symbolic link FOLDER -> the source folder (the virtual include directories of Bazel's
# strip_include_prefix work alike), so "FOLDER/header.h" resolves for the target and for whoever
# links it, and a header of a library that the target does not link is not found.
#
# The order: vyn_layer() declares a folder with the folders whose headers it may include; a folder
# may use only folders declared before it, so the order has no cycle. The check include_order
# (tests/layering) reads every quoted #include of the sources against it, which also covers the
# includes that linking would allow.

# vyn_include_root(TARGET FOLDER): TARGET exports FOLDER, a path under the source root.
function(vyn_include_root target folder)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  elseif(type STREQUAL "EXECUTABLE")
    set(scope PRIVATE)
  else()
    set(scope PUBLIC)
  endif()
  set(root ${CMAKE_BINARY_DIR}/include_roots/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} ${scope} ${root})
endfunction()

# vyn_layer(FOLDER [USES FOLDER...]): FOLDER may include its own headers and those of the folders
# it uses, and of what they use in turn. Each folder used must have been declared already.
function(vyn_layer folder)
  cmake_parse_arguments(ARG "" "" "USES" ${ARGN})
  get_property(declared GLOBAL PROPERTY VYNLOOP_LAYERS)
  foreach(used IN LISTS ARG_USES)
    if(NOT "${used}" IN_LIST declared)
      message(FATAL_ERROR "vyn_layer(${folder}): ${used} is not declared before it")
    endif()
  endforeach()
  if(NOT IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${folder})
    message(FATAL_ERROR "vyn_layer(${folder}): no such folder")
  endif()
  set_property(GLOBAL APPEND PROPERTY VYNLOOP_LAYERS ${folder})
  list(JOIN ARG_USES " " uses)
  set_property(GLOBAL APPEND PROPERTY VYNLOOP_LAYER_RULES "${folder}:${uses}")
endfunction()

# Writes the declared order to FILE, one "FOLDER:USED USED ..." line per folder, for the check.
function(vyn_write_layers file)
  get_property(rules GLOBAL PROPERTY VYNLOOP_LAYER_RULES)
  list(JOIN rules "\n" text)
  file(WRITE ${file} "${text}\n")
endfunction()
