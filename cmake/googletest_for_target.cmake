# GoogleTest built from Debian's source package (libgtest-dev) for the target, when
# cross-compiling: the installed libraries are for the build machine only.
set(MARROWBY_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${MARROWBY_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${MARROWBY_GOOGLETEST_SOURCE} "
                        "(apt-get install libgtest-dev)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${MARROWBY_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its own build names GTest::gtest and GTest::gtest_main. Not our code: its warnings under
# our flags are not ours to mend.
foreach(target gtest gtest_main)
    target_compile_options(${target} PRIVATE -w)
endforeach()
