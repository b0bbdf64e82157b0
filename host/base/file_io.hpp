// Whole-file reading and writing for the host's inputs and outputs, and the
// file-name rule every written name follows. Errors come back as values
// (nullopt, or false and a message naming the path); nothing throws.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vx::host::base {

// The whole file; nullopt when it cannot be read (or is a folder).
std::optional<std::string> read_whole_file(const std::string& path);

// Writes text to path (creating nothing but the file); false and why on error.
bool write_text_file(const std::string& path, std::string_view text, std::string* error);

// A file name made of s: characters outside [A-Za-z0-9._-] become '_', and a
// leading '.' (or an empty name) gets a '_' in front.
std::string safe_file_name(std::string_view s);

}  // namespace vx::host::base
