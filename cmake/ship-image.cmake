# Ships a Windows image as engineers debug it on Windows: compiled with
# CodeView debug information, which lld gathers into "<name>.pdb" beside the
# image (with a linker map, "<name>.map"). The image keeps no symbols and no
# debug sections, only its CodeView (RSDS) record, which names the PDB by
# its file name alone (no build path) with the GUID and age a debugger
# matches it by. lld copies the DWARF sections of the static runtime
# libraries (built by gcc) into an image that has a PDB; they are stripped.
# The sections given after DISCARD are marked discardable, and the PE
# checksum the kernel's loader checks is written last. Needs the clang
# toolchain (cmake/clang-mingw.cmake).
find_program(DIO_PYTHON3 python3 REQUIRED)
find_program(DIO_LLVM_OBJCOPY llvm-objcopy REQUIRED)

function(dio_ship_image target)
  cmake_parse_arguments(ARG "" "" "DISCARD" ${ARGN})
  set(base $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>)
  target_compile_options(${target} PRIVATE -g -gcodeview)
  target_link_options(${target} PRIVATE -Wl,--pdb=${base}.pdb "-Wl,--Xlink=-pdbaltpath:%_PDB%"
                      -Wl,-Map=${base}.map -Wl,--insert-timestamp)
  set(image $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${DIO_LLVM_OBJCOPY} --strip-debug ${image}
    COMMAND ${DIO_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/pe_image.py finish ${image} ${ARG_DISCARD}
    COMMENT "Finishing ${target}: no debug sections, discardable sections, checksum"
    VERBATIM)
endfunction()
