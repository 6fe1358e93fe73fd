# Gives a Windows executable or DLL a VERSIONINFO resource: the project's version
# and the build number (X.Y.Z.N), the product name and a description of the
# file, as the file's properties show them. An executable also gets the
# application manifest (cmake/application.manifest, resource type 24 id 1):
# asInvoker, so that UAC runs it with the rights of whoever starts it and
# never virtualizes its writes and reads of protected folders into the user's
# VirtualStore, nor takes it for an installer by its name; and the Windows
# versions it is written for, 7 to 11, so that none runs it in a
# compatibility mode. A DLL gets none: Windows reads these only from the
# process's executable (the custom actions run in msiexec's).
#
#   wgb_version_resource(TARGET DESCRIPTION [VERSION x.y.z] [BUILD n])
#
# VERSION defaults to the project's version and BUILD to WGB_BUILD_NUMBER; a
# test package of another version or build passes its own.
#
# The build number is the fourth field of every file version: Windows
# Installer replaces an installed file only with a higher version, so each
# build of one version must carry a higher number than the last. Left empty,
# it is the number of commits of the checkout (git rev-list --count HEAD),
# read again at every commit. Where the checkout cannot count them (outside a
# git checkout, or a shallow clone, whose count is that of the commits it
# fetched) it is 0, the fallback of a test build: make-release makes no
# release of it.
set(WGB_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)
set(WGB_APPLICATION_MANIFEST ${CMAKE_CURRENT_LIST_DIR}/application.manifest)
set(WGB_BUILD_NUMBER "" CACHE STRING
    "Fourth field of the file versions, 0 to 65535 (empty: the number of commits)")

set(WGB_BUILD_NUMBER_USED "${WGB_BUILD_NUMBER}")
if("${WGB_BUILD_NUMBER_USED}" STREQUAL "")
  execute_process(COMMAND git rev-list --count HEAD WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE WGB_BUILD_NUMBER_USED OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  execute_process(COMMAND git rev-parse --is-shallow-repository WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE shallow OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  execute_process(COMMAND git rev-parse --path-format=absolute --git-path logs/HEAD
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE head_log
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(failed OR NOT shallow STREQUAL "false")
    set(WGB_BUILD_NUMBER_USED 0)
  elseif(EXISTS "${head_log}" AND NOT CMAKE_SCRIPT_MODE_FILE)
    # A new commit configures again, and the executables get its number.
    # (In script mode, as tests/ships/release-files runs this, there is no
    # configuration to repeat.)
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${head_log})
  endif()
endif()
if(NOT WGB_BUILD_NUMBER_USED MATCHES "^[0-9]+$" OR WGB_BUILD_NUMBER_USED GREATER 65535)
  message(FATAL_ERROR "WGB_BUILD_NUMBER must be a number from 0 to 65535: ${WGB_BUILD_NUMBER_USED}")
endif()
message(STATUS "Build number (the file versions' fourth field): ${WGB_BUILD_NUMBER_USED}")

function(wgb_version_resource target description)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "VERSION;BUILD" "")
  if(NOT arg_VERSION)
    set(arg_VERSION ${PROJECT_VERSION})
  endif()
  if(NOT DEFINED arg_BUILD)
    set(arg_BUILD ${WGB_BUILD_NUMBER_USED})
  endif()
  set(WGB_RC_BUILD ${arg_BUILD})
  set(WGB_RC_VERSION ${arg_VERSION}.${arg_BUILD})
  string(REPLACE "." "," WGB_RC_VERSION_NUMBERS ${arg_VERSION})
  set(WGB_RC_DESCRIPTION ${description})
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(WGB_RC_FILENAME ${name}.dll)
    set(WGB_RC_FILETYPE VFT_DLL)
    set(WGB_RC_MANIFEST "")
  else()
    set(WGB_RC_FILENAME ${name}.exe)
    set(WGB_RC_FILETYPE VFT_APP)
    # CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST
    set(WGB_RC_MANIFEST "1 24 \"${WGB_APPLICATION_MANIFEST}\"")
  endif()
  set(WGB_RC_INTERNAL_NAME ${name})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${WGB_VERSION_RC_TEMPLATE} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # The resource compiler reads the manifest: a change to it builds again.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${WGB_APPLICATION_MANIFEST})
endfunction()
