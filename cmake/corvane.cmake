# Shared build settings and small helpers for the module CMakeLists.

add_compile_options(-Wall -Wextra -Wshadow -Wformat=2)
if(CORVANE_WERROR)
  add_compile_options(-Werror)
endif()

if(CORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
endif()
if(CORVANE_FUZZ)
  # Module libraries get coverage instrumentation too, or libFuzzer would
  # only see the fuzz target's own few lines.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(CORVANE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# corvane_module(<target> SOURCES ... DEPS ...): one static library per folder.
function(corvane_module target)
  cmake_parse_arguments(M "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${target} STATIC ${M_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${M_DEPS} PRIVATE ${M_PRIVATE_DEPS})
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# corvane_test(<name> SOURCES ... DEPS ... [LABELS ...]): one GoogleTest binary,
# registered with CTest. Label "unit" marks tests that need no outside server;
# the sanitizer run in CI runs exactly those.
# Label "threads" marks tests that run threads of their own or the engine's;
# the ThreadSanitizer build makes only those (target threaded_tests).
find_package(GTest QUIET)
if(CORVANE_TESTS)
  add_custom_target(threaded_tests)
endif()
function(corvane_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
  if("threads" IN_LIST T_LABELS)
    add_dependencies(threaded_tests ${name})
  endif()
endfunction()

# Adds every immediate subdirectory of the current source directory that has
# a CMakeLists.txt, in name order, so a new module joins the build by
# existing and no shared list has to be edited.
function(corvane_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
