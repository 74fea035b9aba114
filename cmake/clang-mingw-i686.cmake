# The shipped image for 32-bit Windows (the Control Panel applet): clang and
# lld in mingw mode (clang-mingw.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(DIO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
