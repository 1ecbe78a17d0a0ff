# Writes a C++ source that holds files' bytes as arrays, for data kept in the tree as binary files.
#   cmake -DOUT=file.cpp -DNAMESPACE=ns -DFILES="kName=path;kOther=path" -P embed_bytes.cmake
# For each kName: `extern const unsigned char kName[]` and `extern const unsigned kSizeName`
# (kName without its leading k).
set(_text "// Made by cmake/embed_bytes.cmake at build time. Do not edit.\nnamespace ${NAMESPACE} {\n")
foreach(_entry IN LISTS FILES)
  string(REPLACE "=" ";" _pair "${_entry}")
  list(GET _pair 0 _name)
  list(GET _pair 1 _path)
  file(READ "${_path}" _hex HEX)
  string(LENGTH "${_hex}" _digits)
  math(EXPR _size "${_digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" _bytes "${_bytes}")
  string(SUBSTRING "${_name}" 1 -1 _bare)
  string(APPEND _text "extern const unsigned char ${_name}[] = {\n${_bytes}};\n"
                      "extern const unsigned kSize${_bare} = ${_size};\n")
endforeach()
string(APPEND _text "}  // namespace ${NAMESPACE}\n")
file(WRITE "${OUT}.tmp" "${_text}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
