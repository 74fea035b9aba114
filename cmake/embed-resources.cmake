# Packs a compiled resource file (.res) into a C++ source, as the data that a
# host applet library exports for the Win32 stand-in's loader: the host
# counterpart of the resource section of a Windows image.
#   cmake -DINPUT=file.res -DOUTPUT=file.cpp -P embed-resources.cmake
file(READ ${INPUT} bytes HEX)
string(LENGTH "${bytes}" length)
math(EXPR count "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}
"// Generated from ${INPUT}; do not edit.
#include <cstddef>

extern \"C\" const unsigned char HostModuleResources[${count}] = {
${bytes}
};
extern \"C\" const size_t HostModuleResourcesSize = ${count};
")
