# The program's folders are layers, one static library each, and a folder
# includes only its own headers and those of the folders its library uses
# (directly or through them). tarnwick_layer(<folder> [USES <folder>...])
# makes tarnwick_<folder>, links it PUBLIC to the libraries of the folders it
# uses, and checks before the library is compiled that no file of the folder
# includes a header of any other folder: such an include fails the build.
# Folders are declared bottom-up, so a folder can only use one declared
# before it, and the layers form no circle.

# Every folder whose headers the check knows; an include of any other path
# (system, third-party, generated) is not the check's business.
set(TARNWICK_SOURCE_FOLDERS app config enforce install monitor platform res topology ui update tests bench)
set(TARNWICK_LAYER_LINK_MAIN ${CMAKE_BINARY_DIR}/layers/links_alone.cpp)
# A library linked whole, in the words both GNU ld and LLD's MinGW driver
# take: CMake's own WHOLE_ARCHIVE wraps them in --push-state, which LLD lacks.
set(CMAKE_LINK_LIBRARY_USING_TARNWICK_WHOLE_ARCHIVE "LINKER:--whole-archive" "<LINK_ITEM>" "LINKER:--no-whole-archive")
set(CMAKE_LINK_LIBRARY_USING_TARNWICK_WHOLE_ARCHIVE_SUPPORTED TRUE)
file(CONFIGURE OUTPUT ${TARNWICK_LAYER_LINK_MAIN} CONTENT "int main() { return 0; }\n")

function(tarnwick_layer_reach folder uses out)
  set(reach ${folder})
  foreach(used IN LISTS uses)
    get_property(used_reach GLOBAL PROPERTY tarnwick_layer_reach_${used})
    if(NOT used_reach)
      message(FATAL_ERROR "${folder} uses ${used}, which is not a layer below it")
    endif()
    list(APPEND reach ${used_reach})
  endforeach()
  list(REMOVE_DUPLICATES reach)
  set_property(GLOBAL PROPERTY tarnwick_layer_reach_${folder} ${reach})
  set(${out} ${reach} PARENT_SCOPE)
endfunction()

# A folder of headers only (the resource identifiers).
function(tarnwick_header_layer folder)
  add_library(tarnwick_${folder} INTERFACE)
  target_include_directories(tarnwick_${folder} INTERFACE ${PROJECT_SOURCE_DIR})
  tarnwick_layer_reach(${folder} "" reach)
endfunction()

function(tarnwick_layer folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "USES")
  set(target tarnwick_${folder})
  add_library(${target} STATIC)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC tarnwick_warnings)
  foreach(used IN LISTS arg_USES)
    target_link_libraries(${target} PUBLIC tarnwick_${used})
  endforeach()
  tarnwick_layer_reach(${folder} "${arg_USES}" reach)

  set(check_script ${PROJECT_SOURCE_DIR}/cmake/CheckLayerIncludes.cmake)
  set(stamp ${CMAKE_BINARY_DIR}/layers/${folder}.checked)
  file(GLOB folder_files CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.cpp ${PROJECT_SOURCE_DIR}/${folder}/*.in)
  string(REPLACE ";" "," reach_arg "${reach}")
  string(REPLACE ";" "," known_arg "${TARNWICK_SOURCE_FOLDERS}")
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DFOLDER=${folder} -DREACH=${reach_arg} -DKNOWN=${known_arg}
            -DROOT=${PROJECT_SOURCE_DIR} -P ${check_script}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${check_script} ${folder_files}
    COMMENT "Checking what ${folder}/ includes"
    VERBATIM)
  add_custom_target(${target}_includes DEPENDS ${stamp})
  add_dependencies(${target} ${target}_includes)

  if(NOT folder STREQUAL "app" AND CMAKE_VERSION VERSION_GREATER_EQUAL 3.24)
    add_executable(${target}_alone ${TARNWICK_LAYER_LINK_MAIN})
    target_link_libraries(${target}_alone PRIVATE "$<LINK_LIBRARY:TARNWICK_WHOLE_ARCHIVE,${target}>")
    set_target_properties(${target}_alone PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/layers)
  endif()
endfunction()
