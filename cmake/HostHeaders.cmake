# SPDX-License-Identifier: MIT
# The cross build takes the header-only libraries (CLI11, nlohmann/json, Boost's) from the build machine's
# packages. Only their own folders go on the include path, through links in the build tree:
# /usr/include itself holds the build machine's system headers, which must not shadow Windows'.
set(ZELBIN_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${ZELBIN_HOST_HEADERS})
foreach(folder CLI nlohmann boost)
    if(NOT EXISTS /usr/include/${folder})
        message(FATAL_ERROR "/usr/include/${folder} is missing: install libcli11-dev, nlohmann-json3-dev and libboost-dev")
    endif()
    file(CREATE_LINK /usr/include/${folder} ${ZELBIN_HOST_HEADERS}/${folder} SYMBOLIC)
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${ZELBIN_HOST_HEADERS})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${ZELBIN_HOST_HEADERS})
add_library(Boost::headers INTERFACE IMPORTED GLOBAL)
target_include_directories(Boost::headers SYSTEM INTERFACE ${ZELBIN_HOST_HEADERS})
