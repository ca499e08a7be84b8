// Writes the device into a settings file's [PORTS] section (COM<n>=<device>), the way the tool
// maps its port names to devices, keeping every other line of the file as it was.
#pragma once

#include <string>

namespace boxsim {

// The file's text with COM<com>=<device> set in [PORTS]; section and key names match without
// regard to case, as the settings file's readers do.
std::string WithPortEntry(const std::string& text, int com, const std::string& device);
// Reads, edits and replaces the file (created when missing). Returns an error text or empty.
std::string WritePortEntry(const std::string& path, int com, const std::string& device);

}  // namespace boxsim
