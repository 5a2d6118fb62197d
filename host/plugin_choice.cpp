#include "plugin_choice.h"

#include <cctype>
#include <system_error>
#include <utility>

#include "system.h"

namespace VexaHost {
namespace {

bool IsIdentifier(const std::string& text) {
  if (text.empty() || std::isdigit(static_cast<unsigned char>(text.front()))) {
    return false;
  }
  for (const char letter : text) {
    if (!std::isalnum(static_cast<unsigned char>(letter)) && letter != '_') {
      return false;
    }
  }
  return true;
}

bool HasFolder(const std::string& path) {
  return path.find_first_of("/\\") != std::string::npos;
}

bool IsFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// The first file called `name` under `folder`, walked down (build folders hold a few thousand
// files: the walk is quick, and only done for a bare name).
std::filesystem::path FindBelow(const std::filesystem::path& folder, const std::string& name) {
  std::error_code error;
  auto walk = std::filesystem::recursive_directory_iterator(
      folder, std::filesystem::directory_options::skip_permission_denied, error);
  for (auto end = std::filesystem::recursive_directory_iterator(); !error && walk != end;
       walk.increment(error)) {
    if (walk->path().filename() == "CMakeFiles") {
      walk.disable_recursion_pending();
    } else if (walk->path().filename() == name && IsFile(walk->path())) {
      return walk->path();
    }
  }
  return {};
}

}  // namespace

std::string PluginName(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  name = name.substr(0, name.find('.'));
  if (name.size() > 3 && name.compare(0, 3, "lib") == 0) {
    name.erase(0, 3);
  }
  return name;
}

PluginChoice ParsePluginChoice(const std::string& text) {
  PluginChoice choice{text, "", ""};
  const std::size_t colon = text.rfind(':');
  if (colon != std::string::npos && colon > 1 && IsIdentifier(text.substr(colon + 1))) {
    choice.path = text.substr(0, colon);
    choice.entry = text.substr(colon + 1);
  }
  choice.name = PluginName(choice.path);
  if (choice.entry.empty()) {
    choice.entry = "load_" + choice.name;
  }
  return choice;
}

std::vector<std::filesystem::path> HostPluginFolders() {
  const std::filesystem::path host = ExecutableFolder();
  if (host.empty()) {
    return {};
  }
  return {host, (host / kInstalledPluginFolder).lexically_normal()};
}

std::string LocatePlugin(const std::string& path,
                         const std::vector<std::filesystem::path>& buildFolders,
                         std::string& error) {
  if (HasFolder(path)) {
    return path;
  }
  std::vector<std::filesystem::path> places{std::filesystem::current_path()};
  for (std::filesystem::path& folder : HostPluginFolders()) {
    places.push_back(std::move(folder));
  }
  for (const std::filesystem::path& place : places) {
    if (IsFile(place / path)) {
      return (place / path).string();
    }
  }
  for (const std::filesystem::path& folder : buildFolders) {
    if (const std::filesystem::path found = FindBelow(folder, path); !found.empty()) {
      return found.string();
    }
    places.push_back(folder.string() + " (and below)");
  }
  error = "no plugin " + path + " found; looked in";
  for (const std::filesystem::path& place : places) {
    error += (&place == &places.front() ? " " : ", ") + place.string();
  }
  error += "; give its path (--plugin DIR/" + path + ")";
  return "";
}

}  // namespace VexaHost
