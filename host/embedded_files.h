// Files compiled into the host at build time (cmake/VexaEmbedFiles.cmake), so that the program
// serves them wherever it runs, with nothing to install beside it.
#pragma once

#include <span>
#include <string_view>

namespace VexaHost {

struct EmbeddedFile {
  std::string_view name;  // the file's name, without its folder
  std::string_view content;
};

// The files of host/console/, in name order.
std::span<const EmbeddedFile> ConsoleFiles();

}  // namespace VexaHost
