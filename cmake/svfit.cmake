# Shared build settings and the one-line helpers for libraries, tests and benchmarks.
add_compile_options(-Wall -Wextra -Wshadow)
if(SVFIT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The libFuzzer tree (make fuzz, clang only): every library instrumented for
# coverage and built with AddressSanitizer and UndefinedBehaviorSanitizer; the
# targets of tests/fuzz link the fuzzing engine.
option(SVFIT_FUZZ "Build the libFuzzer targets of tests/fuzz (clang)" OFF)
if(SVFIT_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

find_package(Threads REQUIRED)
include(GNUInstallDirs)  # bin/ and share/man/ of `cmake --install`

# svfit_library(name [dependencies...]): one library per folder of src/, built from
# every .cpp of that folder.
function(svfit_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(svfit_${name} STATIC ${sources})
    target_include_directories(svfit_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(svfit_${name} PUBLIC ${ARGN})
  else()
    add_library(svfit_${name} INTERFACE)
    target_include_directories(svfit_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(svfit_${name} INTERFACE ${ARGN})
  endif()
endfunction()

# add_unit_test(name lib...): one GoogleTest executable from tests/<folder>/<name>.cpp.
find_package(GTest REQUIRED)
function(add_unit_test name)
  add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    SVFIT_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    SVFIT_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # Each test in a directory of its own: files a test writes in the current
  # directory (the viewer's swap file, reports) never meet those of a test
  # running beside it.
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${name}.run)
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${name}.run)
endfunction()

# add_unit_tests(lib...): every *_test.cpp of the current tests/ folder.
function(add_unit_tests)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(file ${tests})
    get_filename_component(name ${file} NAME_WE)
    add_unit_test(${name} ${ARGN})
  endforeach()
endfunction()
