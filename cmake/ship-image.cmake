# Ships a Windows image as engineers debug it: compiled with debug
# information, which then moves to "<image>.debug" beside it; the image is
# stripped of it and of its symbols, and names the file (with its checksum)
# in a .gnu_debuglink section, where gdb and objdump find it. The sections
# given after DISCARD are marked discardable, and the PE checksum the
# kernel's loader checks is written last.
find_program(DIO_PYTHON3 python3 REQUIRED)

function(dio_ship_image target)
  cmake_parse_arguments(ARG "" "" "DISCARD" ${ARGN})
  target_compile_options(${target} PRIVATE -g)
  set(image $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${image} ${image}.debug
    COMMAND ${CMAKE_STRIP} --strip-all ${image}
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${image}.debug ${image}
    COMMAND ${DIO_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/pe_image.py finish ${image} ${ARG_DISCARD}
    COMMENT "Debug information of ${target} to a file of its own"
    VERBATIM)
endfunction()
