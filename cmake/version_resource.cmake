# Gives a Windows executable a VERSIONINFO resource: the project's version,
# the product name and a description of the file, as the file's properties
# show them.
#
#   wgb_version_resource(TARGET DESCRIPTION [VERSION x.y.z])
#
# VERSION defaults to the project's version; a test package of another
# version passes its own.
set(WGB_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

function(wgb_version_resource target description)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "VERSION" "")
  if(NOT arg_VERSION)
    set(arg_VERSION ${PROJECT_VERSION})
  endif()
  string(REPLACE "." ";" parts "${arg_VERSION}.0.0.0")
  list(SUBLIST parts 0 4 parts)
  list(JOIN parts "," WGB_RC_VERSION_NUMBERS)
  set(WGB_RC_VERSION ${arg_VERSION})
  set(WGB_RC_DESCRIPTION ${description})
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(WGB_RC_FILENAME ${name}.exe)
  set(WGB_RC_INTERNAL_NAME ${name})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${WGB_VERSION_RC_TEMPLATE} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
