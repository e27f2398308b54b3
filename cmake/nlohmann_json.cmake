# nlohmann-json is header-only. A cross build finds no package for its target, so it is given
# a folder that holds the build machine's nlohmann headers and nothing else.
function(marrowby_use_nlohmann_json target)
    find_package(nlohmann_json 3 QUIET)
    if(nlohmann_json_FOUND)
        target_link_libraries(${target} PUBLIC nlohmann_json::nlohmann_json)
        return()
    endif()
    find_path(MARROWBY_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include
              NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(headers ${CMAKE_CURRENT_BINARY_DIR}/nlohmann-only)
    file(MAKE_DIRECTORY ${headers})
    file(CREATE_LINK ${MARROWBY_NLOHMANN_DIR}/nlohmann ${headers}/nlohmann SYMBOLIC)
    target_include_directories(${target} SYSTEM PUBLIC ${headers})
endfunction()
