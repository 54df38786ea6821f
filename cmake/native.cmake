# Linux build: POSIX adapters, the quarn-update command line, the tester simulator and the tests.
file(GLOB QUARN_POSIX_SOURCES CONFIGURE_DEPENDS src/platform/posix/*.cpp)
add_library(quarn_posix STATIC ${QUARN_POSIX_SOURCES})
target_include_directories(quarn_posix PUBLIC src)
target_link_libraries(quarn_posix PUBLIC quarn_core)
target_compile_options(quarn_posix PRIVATE ${QUARN_WARNINGS})

file(GLOB QUARN_CLI_SOURCES CONFIGURE_DEPENDS src/cli/*.cpp)
if(QUARN_CLI_SOURCES)
  add_executable(quarn-update ${QUARN_CLI_SOURCES})
  target_link_libraries(quarn-update PRIVATE quarn_posix)
  target_compile_options(quarn-update PRIVATE ${QUARN_WARNINGS})
  target_compile_definitions(quarn-update PRIVATE QUARN_VERSION="${PROJECT_VERSION}")
endif()

# The simulated tester's model (framing and answering the host's bytes, no I/O) is a library of
# its own, shared by quarn-sim's event loop and the fuzz harness of its receive side.
add_library(quarn_sim_model STATIC tools/quarn-sim/tester_model.cpp)
target_include_directories(quarn_sim_model PUBLIC tools/quarn-sim)
target_link_libraries(quarn_sim_model PUBLIC quarn_core)
target_compile_options(quarn_sim_model PRIVATE ${QUARN_WARNINGS})

file(GLOB QUARN_SIM_SOURCES CONFIGURE_DEPENDS tools/quarn-sim/*.cpp)
list(REMOVE_ITEM QUARN_SIM_SOURCES ${CMAKE_SOURCE_DIR}/tools/quarn-sim/tester_model.cpp)
if(QUARN_SIM_SOURCES)
  add_executable(quarn-sim ${QUARN_SIM_SOURCES})
  target_link_libraries(quarn-sim PRIVATE quarn_sim_model)
  target_compile_options(quarn-sim PRIVATE ${QUARN_WARNINGS})
endif()

if(QUARN_FUZZ)
  add_subdirectory(tests/fuzz)
endif()

option(QUARN_BUILD_TESTS "Build the unit tests and register the end-to-end tests" ON)
if(NOT QUARN_BUILD_TESTS)
  return()
endif()

enable_testing()
find_package(GTest REQUIRED)
file(GLOB QUARN_TEST_SOURCES CONFIGURE_DEPENDS tests/unit/*.cpp tests/fakes/*.cpp)
add_executable(unit_tests ${QUARN_TEST_SOURCES})
target_sources(unit_tests PRIVATE src/app/version_text.cpp)  # the banner's portable part
target_include_directories(unit_tests PRIVATE tests)
target_link_libraries(unit_tests PRIVATE quarn_posix GTest::gtest GTest::gtest_main)
target_compile_options(unit_tests PRIVATE ${QUARN_WARNINGS})
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)

file(GLOB QUARN_E2E_SCRIPTS CONFIGURE_DEPENDS tests/e2e/*.sh)
foreach(script ${QUARN_E2E_SCRIPTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME e2e_${name} COMMAND bash ${script} $<TARGET_FILE_DIR:quarn-update> ${CMAKE_SOURCE_DIR})
  set_tests_properties(e2e_${name} PROPERTIES TIMEOUT 900 LABELS e2e SKIP_RETURN_CODE 77)
endforeach()
