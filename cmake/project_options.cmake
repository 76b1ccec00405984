# Warnings apply to the targets of this project only: a directory property, so
# nothing of it (least of all -Werror) travels to whoever links our libraries.
# Narrowing and sign changes are warned about because in a binary codec they
# put a wrong byte on the wire without a word: where one is meant, it is
# written out as a cast. Third-party headers stay quiet as system headers
# (imported targets' include directories are, CPython's is made one).
add_compile_options(-Wall -Wextra -Wshadow -Wconversion -Wsign-conversion)
if(QX_WERROR)
  add_compile_options(-Werror)
endif()

# What every target of ours needs from its dependencies: the include root and,
# in a sanitizer build, the sanitizers at compile and link time.
add_library(qx_project_options INTERFACE)
target_include_directories(qx_project_options INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)

if(QX_SANITIZE)
  set(QX_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_compile_options(qx_project_options INTERFACE ${QX_SANITIZER_FLAGS})
  target_link_options(qx_project_options INTERFACE ${QX_SANITIZER_FLAGS})
endif()

# One executable per test source, so a test file that does not build yet does
# not hold back the others; every test is registered with CTest.
function(qx_add_gtests)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  foreach(source ${ARG_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} qx_project_options GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)
  endforeach()
endfunction()
