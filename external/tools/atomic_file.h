#pragma once
// Whole-file writes that never leave a half-written file behind.
#include <filesystem>
#include <string_view>

namespace ortavia::tools {

// Writes the content to a temporary file beside `path`, flushes it to disk and renames it over
// `path`; the parent folder is created. On failure the old file is untouched and false returned.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content);

}  // namespace ortavia::tools
