# cmake -DX64=file -DX86=file -DOUT=header -P EmbedDriverImages.cmake
# Writes the driver images as C++ byte arrays for hw/DriverImages.cpp.
function(byte_array variable file)
  file(READ ${file} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n"
         bytes "${bytes}")
  set(${variable} "// ${size} bytes\ninline constexpr std::uint8_t ${variable}[] = {\n${bytes}\n};\n" PARENT_SCOPE)
endfunction()

byte_array(kDriverImageX64 ${X64})
byte_array(kDriverImageX86 ${X86})
file(WRITE ${OUT}.tmp "// Generated from the driver's kernel images by cmake/EmbedDriverImages.cmake.\n#pragma once\n\n#include <cstdint>\n\nnamespace kestrune {\n\n${kDriverImageX64}\n${kDriverImageX86}\n}  // namespace kestrune\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
