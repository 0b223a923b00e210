# cmake -DOUTPUT=file.cc -DNAMES="kName1;kName2" -DFILES="a.png;b.png" -P EmbedFiles.cmake
#
# Writes a C++ source that defines, for each file, a byte array with its
# content and its size (const unsigned char NAME[]; const size_t NAMESize).
set(text "// Generated from files of the source tree; do not edit.\n#include <cstddef>\n\nnamespace marrowgate {\n")
list(LENGTH NAMES count)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  list(GET NAMES ${i} name)
  list(GET FILES ${i} file)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n  " bytes "${bytes}")
  string(APPEND text "\nextern const unsigned char ${name}[];\nconst unsigned char ${name}[] = {\n  ${bytes}\n};\n")
  string(APPEND text "extern const size_t ${name}Size;\nconst size_t ${name}Size = ${size};\n")
endforeach()
string(APPEND text "\n}  // namespace marrowgate\n")
file(WRITE "${OUTPUT}" "${text}")
