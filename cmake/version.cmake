# The version of everything the project ships, from the file VERSION at the
# top of the tree: the build's own (project()), the version resource of each
# Windows image (dio_version_resource) and the INF's DriverVer
# (tools/package/inf.py reads the same file). Four numbers, each at most
# 65535, as a version resource and DriverVer hold them.
set(DIO_VERSION_FILE ${CMAKE_CURRENT_LIST_DIR}/../VERSION)
set(DIO_VERSION_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)
file(STRINGS ${DIO_VERSION_FILE} DIO_VERSION LIMIT_COUNT 1)
if(NOT DIO_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "VERSION must hold a.b.c.d, not \"${DIO_VERSION}\"")
endif()
foreach(part ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
  if(part GREATER 65535)
    message(FATAL_ERROR "VERSION ${DIO_VERSION}: each part is at most 65535")
  endif()
endforeach()
string(REPLACE "." "," DIO_VERSION_COMMAS "${DIO_VERSION}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${DIO_VERSION_FILE})

# Gives a Windows image its version resource, in an .rc file of its own made
# from cmake/version.rc.in: the company, a description, the file's original
# name, and the file and product version from VERSION.
#   dio_version_resource(target NAME file.sys TYPE driver|dll|app DESCRIPTION "...")
function(dio_version_resource target)
  cmake_parse_arguments(ARG "" "NAME;TYPE;DESCRIPTION" "" ${ARGN})
  # VFT_APP, VFT_DLL, VFT_DRV (VFT2_DRV_SYSTEM) of <winver.h>.
  if(ARG_TYPE STREQUAL "driver")
    set(DIO_FILE_TYPE VFT_DRV)
    set(DIO_FILE_SUBTYPE VFT2_DRV_SYSTEM)
  elseif(ARG_TYPE STREQUAL "dll")
    set(DIO_FILE_TYPE VFT_DLL)
    set(DIO_FILE_SUBTYPE VFT2_UNKNOWN)
  elseif(ARG_TYPE STREQUAL "app")
    set(DIO_FILE_TYPE VFT_APP)
    set(DIO_FILE_SUBTYPE VFT2_UNKNOWN)
  else()
    message(FATAL_ERROR "dio_version_resource(${target}): TYPE is driver, dll or app")
  endif()
  set(DIO_IMAGE_NAME ${ARG_NAME})
  set(DIO_DESCRIPTION ${ARG_DESCRIPTION})
  get_filename_component(DIO_INTERNAL_NAME ${ARG_NAME} NAME_WE)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
  configure_file(${DIO_VERSION_TEMPLATE} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
