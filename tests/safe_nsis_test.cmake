# Which makensis versions the build accepts: cmake -P tests/safe_nsis_test.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/SafeNsis.cmake)
set(failures 0)
foreach(case "v3.09=ON" "v3.10=ON" "v3.08-3+deb12u1=ON" "v3.08-3+deb12u2=ON" "v3.08-4+deb13u1=ON"
             "v3.08=OFF" "v3.08-3=OFF" "v3.08-2+deb12u5=OFF" "v3.08-3+deb11u9=OFF" "v3.07-1+deb12u9=OFF"
             "v2.51=OFF" "3.09=OFF" "=OFF")
  string(REPLACE "=" ";" parts "${case}")
  list(GET parts 0 version)
  list(GET parts 1 expected)
  tarnwick_nsis_is_safe("${version}" safe)
  if(NOT safe STREQUAL expected)
    message(SEND_ERROR "\"${version}\": ${safe}, expected ${expected}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} NSIS version(s) judged wrongly")
endif()
