# Writes OUTPUT, a C++ source that holds each PNG of ICONS as a string_view
# named kBuiltIn<Name>Png (drive-harddisk.png → kBuiltInDriveHarddiskPng) in
# namespace vq::linux_platform. ICONS are separated by '|', which passes
# through a custom command unsplit.
#   cmake -DOUTPUT=out.cpp -DICONS="a.png|b.png" -P embed_icons.cmake

string(REPLACE "|" ";" ICONS "${ICONS}")

set(source "// Generated from resources/icons by embed_icons.cmake; do not edit.\n")
string(APPEND source "#include <string_view>\n\nnamespace vq::linux_platform {\n\n")
foreach(icon IN LISTS ICONS)
  get_filename_component(stem "${icon}" NAME_WE)
  string(REPLACE "-" ";" words "${stem}")
  set(name "")
  foreach(word IN LISTS words)
    string(SUBSTRING "${word}" 0 1 first)
    string(SUBSTRING "${word}" 1 -1 rest)
    string(TOUPPER "${first}" first)
    string(APPEND name "${first}${rest}")
  endforeach()
  file(READ "${icon}" bytes HEX)
  string(LENGTH "${bytes}" hexLength)
  math(EXPR size "${hexLength} / 2")
  # One literal per byte, sixteen to a line: "\x89" "\x50" ...
  string(REPEAT "[0-9a-f]" 32 line)
  string(REGEX REPLACE "(${line})" "\\1|" literal "${bytes}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "<\\1>" literal "${literal}")
  string(REPLACE "<" "\"\\x" literal "${literal}")
  string(REPLACE ">" "\" " literal "${literal}")
  string(REPLACE "|" "\n    " literal "${literal}")
  string(APPEND source "extern const std::string_view kBuiltIn${name}Png;\n")
  string(APPEND source "const std::string_view kBuiltIn${name}Png(\n    ${literal}, ${size});\n\n")
endforeach()
string(APPEND source "}  // namespace vq::linux_platform\n")
file(WRITE "${OUTPUT}.tmp" "${source}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
