# The shipped images for 64-bit Windows (the driver, dioctl): clang and lld
# in mingw mode (clang-mingw.cmake).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(DIO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
