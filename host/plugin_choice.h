// The plugins of a command line: each `--plugin PATH[:ENTRY]` read into the library's path, its
// entry and the name the host shows it under, and a bare file name looked up where a developer
// would expect it.
//
//   PluginChoice choice = ParsePluginChoice("libkor_notes.so");   // entry load_kor_notes, name
//   kor_notes std::string path = LocatePlugin(choice.path, error);       // ./, beside the host,
//   the build tree
//
// The entry left out is guessed from the file name: its "lib" prefix and extension dropped,
// "load_" put before (libkor_notes.so and kor_notes.dll both give load_kor_notes).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace VexaHost {

struct PluginChoice {
  std::string path;   // as given, or as found by LocatePlugin
  std::string entry;  // the exported function the plugin is loaded through
  std::string name;   // "kor_notes": the file name without "lib" and extension
};

// Splits "PATH:ENTRY" at its last colon when what follows is a C identifier (a Windows drive's
// colon is never taken for one); the entry left out is guessed.
PluginChoice ParsePluginChoice(const std::string& text);

// "kor_notes" for libkor_notes.so, kor_notes.dll, /x/libkor_notes.so.
std::string PluginName(const std::string& path);

// Where an installed host's plugins are, relative to its own folder: bin/vexa-host and
// lib/vexa/plugins/libkor_geoinfo.so under one prefix.
inline constexpr char kInstalledPluginFolder[] = "../lib/vexa/plugins";

// The folders of the plugins that came with the host: its own folder and the installed plugin
// folder (none when the host's folder is unknown).
std::vector<std::filesystem::path> HostPluginFolders();

// The path of the plugin `path`: itself when it names a folder, else the first file of that
// name in the working folder, beside the host, in the installed plugin folder, in
// `buildFolders` (each walked down). Empty when none is there, `error` then listing the places
// looked in.
std::string LocatePlugin(const std::string& path,
                         const std::vector<std::filesystem::path>& buildFolders,
                         std::string& error);

}  // namespace VexaHost
