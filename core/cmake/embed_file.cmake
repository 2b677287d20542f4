# cmake -DINPUT=file -DOUTPUT=file.cpp -DFUNCTION=name -P embed_file.cmake
# Writes a C++ source whose quotalume::FUNCTION() returns the bytes of INPUT.
file(READ "${INPUT}" bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${bytes}")
file(WRITE "${OUTPUT}.new"
  "#include <string_view>\n\n"
  "namespace quotalume {\n\n"
  "std::string_view ${FUNCTION}() {\n"
  "    static constexpr char bytes[] = {${bytes} 0};\n"
  "    return {bytes, sizeof bytes - 1};\n"
  "}\n\n"
  "}  // namespace quotalume\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
