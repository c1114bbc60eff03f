# Warnings that hold for the project's own code (not for third-party headers).
function(zemlaro_warnings target)
  if(MSVC)
    # A native Windows build of the desktop program (Qt WebEngine for Windows is built
    # with MSVC only): the sources are UTF-8, whatever the system's code page is.
    # Warnings are not errors there, as the project's checks run with GCC.
    target_compile_options(${target} PRIVATE /W4 /utf-8 /permissive-)
    return()
  endif()
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(ZEMLARO_SANITIZE)
    # The sanitizers' instrumentation makes GCC's flow analysis report
    # uninitialised values inside the standard library (std::regex, std::function).
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
endfunction()

# GoogleTest for a cross-build: Debian's sources, built in the build folder with the
# cross compiler (the build machine's libgtest is for the build machine). Native builds
# use the installed package through find_package(GTest) in zemlaro_test.
function(zemlaro_googletest_from_sources)
  set(ZEMLARO_GOOGLETEST_SOURCES /usr/src/googletest CACHE PATH "GoogleTest sources for cross-builds")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${ZEMLARO_GOOGLETEST_SOURCES} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest 1.11 and later name their targets GTest::gtest and so on themselves.
  foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endfunction()

# zemlaro_library(NAME SOURCES... [DEPENDS libs...])
function(zemlaro_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  zemlaro_warnings(${name})
endfunction()

# zemlaro_test(NAME SOURCES... [DEPENDS libs...] [LABELS labels...] [ENV vars...])
# One GoogleTest (or QtTest) executable per module, registered with CTest.
function(zemlaro_test name)
  cmake_parse_arguments(ARG "QTEST" "TIMEOUT" "SOURCES;DEPENDS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  zemlaro_warnings(${name})
  if(ARG_QTEST)
    target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
  else()
    if(NOT TARGET GTest::gtest)
      find_package(GTest REQUIRED)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gmock GTest::gtest_main)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  # Each test binary keeps its cookie store and settings in a data folder of its own,
  # never in the user's.
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-data/${name};${ARG_ENV}")
endfunction()

# Adds every child folder that has a CMakeLists.txt (the desktop program's only
# when it is built): each module brings its own tests, benchmarks or tools.
function(zemlaro_add_children)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      if(child STREQUAL "app" AND NOT ZEMLARO_GUI)
        continue()
      endif()
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
