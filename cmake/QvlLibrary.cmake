# Drops from `list` the files named in LINUX_ONLY when building for Windows: what they test or
# use exists only on Linux (nginx and other Linux programs, desktop entries, POSIX processes).
# WINDOWS_ONLY files are dropped on every other host.
macro(qvl_drop_linux_only list)
  if(WIN32)
    set(_drop ${ARG_LINUX_ONLY})
  else()
    set(_drop ${ARG_WINDOWS_ONLY})
  endif()
  foreach(_file ${_drop})
    list(REMOVE_ITEM ${list} ${CMAKE_CURRENT_SOURCE_DIR}/${_file})
  endforeach()
endmacro()

# One static library per source folder; the sources are every .cpp in it, so that adding a
# class is adding its two files.
function(qvl_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;LINUX_ONLY;WINDOWS_ONLY" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB _headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  qvl_drop_linux_only(_sources)
  if(NOT _sources)
    # A folder whose classes are not written yet still has a target to link against.
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${_sources} ${_headers})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  if(NOT WIN32)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
endfunction()

# One test program per test folder, registered with CTest test by test.
function(qvl_test_folder name)
  cmake_parse_arguments(ARG "" "" "DEPS;LINUX_ONLY;WINDOWS_ONLY" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  qvl_drop_linux_only(_sources)
  if(NOT _sources)
    return()
  endif()
  add_executable(${name} ${_sources})
  # A folder that needs a Qt application object brings its own main.cpp.
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Listing the tests means starting the program under the emulator once per build, and
    # each test then starts it again: one entry per program keeps the Windows stage short.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 900)
    return()
  endif()
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  include(GoogleTest)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()
