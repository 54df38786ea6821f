# Linux build: POSIX adapters, the quarn-update command line, the tester simulator and the tests.
file(GLOB QUARN_POSIX_SOURCES CONFIGURE_DEPENDS src/platform/posix/*.cpp)
add_library(quarn_posix STATIC ${QUARN_POSIX_SOURCES})
target_include_directories(quarn_posix PUBLIC src)
target_link_libraries(quarn_posix PUBLIC quarn_core)
target_compile_options(quarn_posix PRIVATE ${QUARN_WARNINGS})

find_package(Threads REQUIRED)
file(GLOB QUARN_CLI_POSIX_SOURCES CONFIGURE_DEPENDS src/cli/posix/*.cpp)
add_executable(quarn-update ${QUARN_CLI_POSIX_SOURCES})
target_link_libraries(quarn-update PRIVATE quarn_cli quarn_posix Threads::Threads)
target_compile_options(quarn-update PRIVATE ${QUARN_WARNINGS})

# The simulated tester's model (framing and answering the host's bytes, no I/O) and the replay of
# a recorded tester are a library of their own, shared by quarn-sim's event loop, the unit tests
# and the fuzz harness of its receive side.
add_library(quarn_sim_model STATIC tools/quarn-sim/tester_model.cpp tools/quarn-sim/trace_replay.cpp)
target_include_directories(quarn_sim_model PUBLIC tools/quarn-sim)
target_link_libraries(quarn_sim_model PUBLIC quarn_core)
target_compile_options(quarn_sim_model PRIVATE ${QUARN_WARNINGS})

file(GLOB QUARN_SIM_SOURCES CONFIGURE_DEPENDS tools/quarn-sim/*.cpp)
list(REMOVE_ITEM QUARN_SIM_SOURCES ${CMAKE_SOURCE_DIR}/tools/quarn-sim/tester_model.cpp
     ${CMAKE_SOURCE_DIR}/tools/quarn-sim/trace_replay.cpp)
if(QUARN_SIM_SOURCES)
  add_executable(quarn-sim ${QUARN_SIM_SOURCES})
  target_link_libraries(quarn-sim PRIVATE quarn_sim_model)
  target_compile_options(quarn-sim PRIVATE ${QUARN_WARNINGS})
  target_compile_definitions(quarn-sim PRIVATE QUARN_VERSION="${PROJECT_VERSION}")
endif()

add_subdirectory(bench)
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
# The portable parts of the Windows program: the banner's version text and the transfer's view.
target_sources(unit_tests PRIVATE src/app/version_text.cpp src/app/transfer_progress.cpp)
target_include_directories(unit_tests PRIVATE tests)
target_link_libraries(unit_tests PRIVATE quarn_cli quarn_posix quarn_sim_model GTest::gtest GTest::gtest_main)
target_compile_options(unit_tests PRIVATE ${QUARN_WARNINGS})
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)

file(GLOB QUARN_E2E_SCRIPTS CONFIGURE_DEPENDS tests/e2e/*.sh)
foreach(script ${QUARN_E2E_SCRIPTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME e2e_${name} COMMAND bash ${script} $<TARGET_FILE_DIR:quarn-update> ${CMAKE_SOURCE_DIR})
  set_tests_properties(e2e_${name} PROPERTIES TIMEOUT 900 LABELS e2e SKIP_RETURN_CODE 77)
endforeach()

# quarn-update against Debian's kernel in a virtual machine, the tester a USB gadget (tests/vm).
add_test(NAME e2e_vm_gadget COMMAND bash ${CMAKE_SOURCE_DIR}/tests/vm/run.sh
         $<TARGET_FILE_DIR:quarn-update> ${CMAKE_SOURCE_DIR})
set_tests_properties(e2e_vm_gadget PROPERTIES TIMEOUT 900 LABELS "e2e;vm" SKIP_RETURN_CODE 77)

# Every command-line program names the project's version.
foreach(program quarn-update quarn-sim)
  add_test(NAME version_${program}
           COMMAND sh -c "out=$(\"$1\" --version) && test \"$out\" = \"$2\""
                   version $<TARGET_FILE:${program}> "${program} ${PROJECT_VERSION}")
endforeach()

# Packaging: the resource check against resource sets compiled here, the udev rule's match keys,
# the .deb's postinst.
include(${CMAKE_SOURCE_DIR}/cmake/version_resource.cmake)
quarn_configure_version_resource(QUARN_TEST_VERSION_RC QuarnUpdater.exe "Quarn Updater")
add_test(NAME resources_check COMMAND bash ${CMAKE_SOURCE_DIR}/tests/resources/check_resources_test.sh
         ${CMAKE_SOURCE_DIR} ${QUARN_TEST_VERSION_RC} ${PROJECT_VERSION})
set_tests_properties(resources_check PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME package_udev_rule COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/package/udev_rule_test.py
         ${CMAKE_SOURCE_DIR}/dist/linux/60-zentrika-quarn.rules)
add_test(NAME package_postinst COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/postinst_test.sh
         ${CMAKE_SOURCE_DIR}/dist/linux/postinst)

# The release build and the packages that scripts/package.sh makes (skipped until it has run).
set(QUARN_RELEASE_BUILD ${CMAKE_SOURCE_DIR}/build/release)
set(QUARN_PACKAGES ${CMAKE_SOURCE_DIR}/build/packages)
add_test(NAME package_release_update COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/release_update.sh
         ${QUARN_RELEASE_BUILD} ${CMAKE_SOURCE_DIR})
add_test(NAME package_deb COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/check_deb.sh
         ${QUARN_PACKAGES} ${CMAKE_SOURCE_DIR} ${PROJECT_VERSION})
add_test(NAME package_zip COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/check_zip.sh
         ${QUARN_PACKAGES} ${CMAKE_SOURCE_DIR}/build/windows $<TARGET_FILE_DIR:quarn-sim>
         ${CMAKE_SOURCE_DIR} ${PROJECT_VERSION})
set_tests_properties(package_release_update package_deb package_zip PROPERTIES
                     LABELS package SKIP_RETURN_CODE 77 TIMEOUT 600)
