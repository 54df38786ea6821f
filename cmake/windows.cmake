# Windows program: Win32 adapters, QuarnUpdater.exe with its resources, and the Wine test fixtures.
# The C and C++ runtimes are linked statically so that the .exe runs on its own.
add_link_options(-static -static-libgcc -static-libstdc++)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
include(${CMAKE_CURRENT_LIST_DIR}/version_resource.cmake)

# Fails the build when the program imports a DLL that is not a KnownDLL and so could be planted
# beside it (cmake/check_imports.cmake). Every shipped .exe gets this check.
function(quarn_check_imports target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "EXPECT_FOREIGN" "")
  set(expectation "")
  if(arg_EXPECT_FOREIGN)
    set(expectation -DEXPECT_FOREIGN=${arg_EXPECT_FOREIGN})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DEXE=$<TARGET_FILE:${target}>
            ${expectation} -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/check_imports.cmake
    VERBATIM)
endfunction()

file(GLOB QUARN_WIN32_SOURCES CONFIGURE_DEPENDS src/platform/win32/*.cpp)
if(QUARN_WIN32_SOURCES)
  add_library(quarn_win32 STATIC ${QUARN_WIN32_SOURCES})
  target_include_directories(quarn_win32 PUBLIC src)
  target_link_libraries(quarn_win32 PUBLIC quarn_core setupapi)
  target_compile_options(quarn_win32 PRIVATE ${QUARN_WARNINGS})
endif()

file(GLOB QUARN_APP_SOURCES CONFIGURE_DEPENDS src/app/*.cpp)
if(QUARN_APP_SOURCES)
  enable_language(RC)
  add_executable(QuarnUpdater WIN32 ${QUARN_APP_SOURCES} resources/QuarnUpdater.rc)
  # ole32 (a KnownDLL) hosts the taskbar list; uuid is a static library of interface identifiers.
  target_link_libraries(QuarnUpdater PRIVATE quarn_win32 user32 gdi32 ole32 uuid)
  target_link_options(QuarnUpdater PRIVATE -municode)
  target_include_directories(QuarnUpdater PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(QuarnUpdater PRIVATE ${QUARN_WARNINGS})
  quarn_add_version_resource(QuarnUpdater "Quarn Updater")
  # windres reports no dependencies: name the files the resource script pulls in, and read the
  # linked resources back so that a template or image that drifts fails the build.
  set_source_files_properties(resources/QuarnUpdater.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/resources/resource_ids.h;${CMAKE_SOURCE_DIR}/resources/QuarnUpdater.ico;${CMAKE_SOURCE_DIR}/resources/logo.bmp;${CMAKE_SOURCE_DIR}/resources/QuarnUpdater.manifest")
  add_custom_command(TARGET QuarnUpdater POST_BUILD
    COMMAND python3 ${CMAKE_SOURCE_DIR}/resources/check_resources.py --version ${PROJECT_VERSION}
            $<TARGET_FILE:QuarnUpdater>)
  quarn_check_imports(QuarnUpdater)
endif()

# quarn-update.exe: the command line, a console program over the same adapters.
file(GLOB QUARN_CLI_WIN32_SOURCES CONFIGURE_DEPENDS src/cli/win32/*.cpp)
add_executable(quarn-update ${QUARN_CLI_WIN32_SOURCES})
target_link_libraries(quarn-update PRIVATE quarn_cli quarn_win32)
target_link_options(quarn-update PRIVATE -municode)
target_compile_options(quarn-update PRIVATE ${QUARN_WARNINGS})
quarn_check_imports(quarn-update)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/CMakeLists.txt)
  add_subdirectory(tests/wine)
endif()
