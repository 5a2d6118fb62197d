# Compiles files into a program: a C++ source that defines
#
#   std::span<const VexaHost::EmbeddedFile> <FUNCTION>();
#
# (declared in host/embedded_files.h) answering each file's name and bytes, in name order.
#
#   vexa_embed_files(TARGET vexa_host_console FUNCTION ConsoleFiles FILES ${files})
#
# adds the generated source to TARGET; it is made again whenever one of FILES changes.
# Run as a script (cmake -P) it writes the source: -DOUTPUT= -DFUNCTION= -DFILES=a|b.
function(vexa_embed_files)
  cmake_parse_arguments(ARG "" "TARGET;FUNCTION" "FILES" ${ARGN})
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${ARG_FUNCTION}.cpp)
  list(SORT ARG_FILES)
  string(JOIN "|" files ${ARG_FILES})  # a list would not survive the command line
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} -DFUNCTION=${ARG_FUNCTION} "-DFILES=${files}"
            -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    DEPENDS ${ARG_FILES} ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    COMMENT "Embedding ${ARG_FUNCTION} files"
    VERBATIM)
  target_sources(${ARG_TARGET} PRIVATE ${output})
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED OUTPUT)
  set(arrays "")
  set(entries "")
  set(index 0)
  string(REPLACE "|" ";" FILES "${FILES}")
  foreach(file IN LISTS FILES)
    get_filename_component(name ${file} NAME)
    file(READ ${file} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    # 0x.. per byte, a line break every 32 bytes to keep the source's lines short.
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
    string(APPEND arrays "constexpr unsigned char kFile${index}[] = {\n${bytes}0};\n")
    string(APPEND entries "      {\"${name}\", {reinterpret_cast<const char*>(kFile${index}), ${size}}},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  file(WRITE ${OUTPUT}.new "// Made by cmake/VexaEmbedFiles.cmake; do not edit.
#include \"embedded_files.h\"

namespace VexaHost {
namespace {
${arrays}}  // namespace

std::span<const EmbeddedFile> ${FUNCTION}() {
  static const EmbeddedFile kFiles[] = {
${entries}  };
  return kFiles;
}

}  // namespace VexaHost
")
  file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
  file(REMOVE ${OUTPUT}.new)
endif()
