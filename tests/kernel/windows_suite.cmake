# The Windows build's test suite in the real-kernel rig's guest, whose kernel runs 32-bit
# programs where the build machine's may not. Building `windows_guest_suite` boots the guest,
# which starts every test program once under wine; CTest then reports each test from the
# program's gtest XML (`cmake --workflow --preset windows-guest`).
get_property(testPrograms GLOBAL PROPERTY MARROWBY_TEST_PROGRAMS)
# Two lanes take the programs in list order: the longest (minutes under TCG) go first, so
# that no lane is left running one of them alone at the end.
set(longestFirst reference_tests report_test quellor_to_report_test drive_test extraction_test
    runtime_test)
foreach(program IN LISTS longestFirst)
    if(program IN_LIST testPrograms)
        list(REMOVE_ITEM testPrograms ${program})
        list(APPEND startFirst ${program})
    endif()
endforeach()
set(testPrograms ${startFirst} ${testPrograms})
set(guestResults ${CMAKE_BINARY_DIR}/guest-suite)
set(programList "bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}\n")
foreach(program IN LISTS testPrograms)
    string(APPEND programList "program $<TARGET_FILE:${program}> ${MARROWBY_TEST_FILTER}\n")
endforeach()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/guest-suite-programs.txt CONTENT "${programList}")

add_custom_target(windows_guest_suite
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/windows-suite.sh ${CMAKE_BINARY_DIR}/guest-suite-programs.txt
            ${guestResults} ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}
    USES_TERMINAL VERBATIM)
add_dependencies(windows_guest_suite ${testPrograms})

# Read when CTest starts: one test per test the programs listed in the guest.
file(WRITE ${CMAKE_BINARY_DIR}/guest-suite-tests.cmake
    "set(guestResults [==[${guestResults}]==])\n"
    "set(guestChecker [==[${CMAKE_CURRENT_LIST_DIR}/check-guest-test.sh]==])\n"
    "include([==[${CMAKE_CURRENT_LIST_DIR}/guest_suite_tests.cmake]==])\n")
set_property(DIRECTORY ${PROJECT_SOURCE_DIR}/tests APPEND PROPERTY TEST_INCLUDE_FILES
    ${CMAKE_BINARY_DIR}/guest-suite-tests.cmake)
