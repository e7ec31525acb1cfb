# Every dependency comes from Debian 12's packages (scripts/install-deps.sh).
find_package(CURL 7.88 REQUIRED)
find_package(fmt 9 REQUIRED)
find_package(spdlog 1.10 REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)

find_path(TCLAP_INCLUDE_DIR tclap/CmdLine.h REQUIRED)
add_library(tclap INTERFACE)
target_include_directories(tclap SYSTEM INTERFACE ${TCLAP_INCLUDE_DIR})

if(TAV_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
