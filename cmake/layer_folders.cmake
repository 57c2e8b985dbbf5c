# Each layer compiles against one folder of the build tree, layers/<layer>, holding a folder
# for itself and for each layer it may include (QUILM_LAYER_RULES), each with a link to every
# source and header there. Nothing else of ours is on a layer's include path, so a header of a
# layer above is not found, spelled "demo/x.h" or <demo/x.h>. The layer's own sources compile
# through their links as well, so "../demo/x.h" is looked up beside the link, in the layer's
# folder. The folders are real and only the files are links: the system resolves ".." after a
# linked folder from the folder's target, which would climb back into src/.
# An include that climbs further or starts at "/" is the text check's to refuse.

set(QUILM_LAYERS_DIR ${CMAKE_BINARY_DIR}/layers)
set(QUILM_LAYER_PATTERNS *.h *.hpp *.inl *.c *.cc *.cpp)

set(QUILM_LAYERS "")
foreach(rule ${QUILM_LAYER_RULES})
  string(REGEX MATCH "^([a-z_]+):(.*)$" matched "${rule}")
  string(REPLACE "," ";" below "${CMAKE_MATCH_2}")
  list(APPEND QUILM_LAYERS ${CMAKE_MATCH_1})
  set(QUILM_ALLOWED_${CMAKE_MATCH_1} ${CMAKE_MATCH_1} ${below})
endforeach()

# The files of layer <name> in <root>/src/<name> or <root>/tools/<name>, into <out>; the glob
# reruns CMake when a file comes or goes, so the links follow.
function(quilm_layer_files out root name)
  set(globs "")
  foreach(part src tools)
    if(IS_DIRECTORY ${root}/${part}/${name})
      foreach(pattern ${QUILM_LAYER_PATTERNS})
        list(APPEND globs ${root}/${part}/${name}/${pattern})
      endforeach()
    endif()
  endforeach()
  set(files "")
  if(globs)
    file(GLOB files CONFIGURE_DEPENDS ${globs})
  endif()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# Makes <folder> for <layer> afresh. [TREE <root>]: files of that tree come first, then src/'s
# and tools/' (the layer tests compile small trees through the same links).
function(quilm_layer_folder folder layer)
  cmake_parse_arguments(ARG "" "TREE" "" ${ARGN})
  file(REMOVE_RECURSE ${folder})
  foreach(allowed ${QUILM_ALLOWED_${layer}})
    set(files "")
    if(ARG_TREE)
      quilm_layer_files(files ${ARG_TREE} ${allowed})
    endif()
    list(APPEND files ${QUILM_LAYER_FILES_${allowed}})
    foreach(file ${files})
      get_filename_component(name ${file} NAME)
      if(NOT IS_SYMLINK ${folder}/${allowed}/${name})
        file(MAKE_DIRECTORY ${folder}/${allowed})
        # Never a copy: it would go stale, and messages and debuggers would show it, not ours.
        file(CREATE_LINK ${file} ${folder}/${allowed}/${name} SYMBOLIC)
      endif()
    endforeach()
  endforeach()
endfunction()

foreach(layer ${QUILM_LAYERS})
  quilm_layer_files(QUILM_LAYER_FILES_${layer} ${CMAKE_SOURCE_DIR} ${layer})
endforeach()
foreach(layer ${QUILM_LAYERS})
  quilm_layer_folder(${QUILM_LAYERS_DIR}/${layer} ${layer})
endforeach()

# Builds <target> as <layer>: its include path is the layer's folder alone, and its C and C++
# sources from src/ and tools/ compile through the folder's links. A library with PUBLIC hands
# the folder on to whatever links it and is no layer (tests, benchmarks): a layer linking it
# has a folder of its own that holds it already.
function(quilm_build_as_layer target layer scope)
  set(folder ${QUILM_LAYERS_DIR}/${layer})
  set_target_properties(${target} PROPERTIES QUILM_LAYER ${layer})
  target_include_directories(${target} PRIVATE ${folder})
  if(scope STREQUAL "PUBLIC")
    target_include_directories(${target} INTERFACE
      $<$<STREQUAL:$<TARGET_PROPERTY:QUILM_LAYER>,>:${folder}>)
  endif()
  set_property(GLOBAL APPEND PROPERTY QUILM_LAYER_TARGETS "${target}:${layer}")
endfunction()

# Runs once the top directory is read, so sources added after the target was made (the
# Windows files from scripts/windows/targets.cmake) go through the links too.
function(quilm_compile_through_links)
  get_property(pairs GLOBAL PROPERTY QUILM_LAYER_TARGETS)
  foreach(pair ${pairs})
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 target)
    list(GET pair 1 layer)
    get_target_property(sources ${target} SOURCES)
    set(linked "")
    foreach(source ${sources})
      if(NOT source MATCHES "^\\$<")
        cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_SOURCE_DIR} NORMALIZE
                   OUTPUT_VARIABLE path)
        cmake_path(RELATIVE_PATH path BASE_DIRECTORY ${CMAKE_SOURCE_DIR})
        if(path MATCHES "^(src|tools)/([a-z_]+)/([^/]+\\.(c|cc|cpp))$")
          set(link ${QUILM_LAYERS_DIR}/${layer}/${CMAKE_MATCH_2}/${CMAKE_MATCH_3})
          if(EXISTS ${link})
            set(source ${link})
          endif()
        endif()
      endif()
      list(APPEND linked ${source})
    endforeach()
    set_target_properties(${target} PROPERTIES SOURCES "${linked}")
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL quilm_compile_through_links)
