# Writes a file's bytes as a C++ array: cmake -DIN=file -DOUT=source.cpp -DNAME=symbol -P embed_bytes.cmake
# defines `const unsigned char NAME[]` and `const size_t NAMESize`.
file(READ "${IN}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    " body "${body}")
get_filename_component(from "${IN}" NAME)
file(WRITE "${OUT}" "// Generated from ${from} by cmake/embed_bytes.cmake.\n#include <cstddef>\n\n"
     "extern const unsigned char ${NAME}[] = {\n    ${body}\n};\nextern const size_t ${NAME}Size = sizeof(${NAME});\n")
