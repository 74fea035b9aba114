# Cross compilation for Windows with Debian's clang and lld in their mingw
# mode, against mingw-w64's headers and libraries and the C and C++
# runtimes of Debian's mingw-w64 gcc: the images that ship. clang writes
# their debug information as CodeView and lld gathers it into a PDB beside
# each image, with the image's CodeView (RSDS) record naming it
# (cmake/ship-image.cmake), which is what Windows' debuggers read.
# Included by clang-mingw-x86_64.cmake and clang-mingw-i686.cmake with
# DIO_MINGW_TRIPLE set.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${DIO_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${DIO_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${DIO_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${DIO_MINGW_TRIPLE}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${DIO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# clang does not find Debian's mingw-w64 gcc by itself (its directory is
# named "12-win32", not a version): the C++ headers, crtbegin.o/crtend.o and
# libgcc, libstdc++ come from where that gcc keeps them.
execute_process(COMMAND ${DIO_MINGW_TRIPLE}-gcc -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE found)
if(NOT found EQUAL 0)
  message(FATAL_ERROR "${DIO_MINGW_TRIPLE}-gcc is missing (tools/install-deps.sh installs it)")
endif()
get_filename_component(gcc_dir ${libgcc} DIRECTORY)
set(cxx_headers ${gcc_dir}/include/c++)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${cxx_headers} ${cxx_headers}/${DIO_MINGW_TRIPLE} ${cxx_headers}/backward)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -B${gcc_dir} -L${gcc_dir}")
endforeach()
