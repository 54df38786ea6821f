# The VERSIONINFO resource of a Windows program, configured from the project version
# (resources/version.rc.in), so that any Windows target can carry one.
#   quarn_configure_version_resource(<out var> <file name> <description>)
#     writes the .rc into the build tree and gives its path; the native build uses one to test
#     the resource check.
#   quarn_add_version_resource(<target> <description>)
#     adds it to a program built here.
function(quarn_configure_version_resource out_var file_name description)
  get_filename_component(QUARN_RC_INTERNAL_NAME ${file_name} NAME_WE)
  set(QUARN_RC_FILE_NAME ${file_name})
  set(QUARN_RC_DESCRIPTION ${description})
  set(rc ${CMAKE_BINARY_DIR}/resources/${QUARN_RC_INTERNAL_NAME}.version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/resources/version.rc.in ${rc} @ONLY)
  set(${out_var} ${rc} PARENT_SCOPE)
endfunction()

function(quarn_add_version_resource target description)
  quarn_configure_version_resource(rc ${target}.exe "${description}")
  target_sources(${target} PRIVATE ${rc})
endfunction()
