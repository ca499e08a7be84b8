#include "tools/boxsim/PortsIni.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace boxsim {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// The section a header line opens, lower case; empty when the line is no header.
std::string SectionOf(const std::string& line) {
  std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return {};
  return Lower(Trim(t.substr(1, t.size() - 2)));
}

}  // namespace

std::string WithPortEntry(const std::string& text, int com, const std::string& device) {
  std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  std::string key = "COM" + std::to_string(com);
  std::string entry = key + "=" + device;

  int section = -1;  // line index of the [PORTS] header
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (SectionOf(lines[i]) == "ports") {
      section = static_cast<int>(i);
      break;
    }
  }
  if (section < 0) {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
    lines.push_back("[PORTS]");
    lines.push_back(entry);
  } else {
    std::size_t insertAt = static_cast<std::size_t>(section) + 1;
    bool replaced = false;
    for (std::size_t i = insertAt; i < lines.size() && SectionOf(lines[i]).empty(); ++i) {
      std::size_t eq = lines[i].find('=');
      if (eq != std::string::npos && Lower(Trim(lines[i].substr(0, eq))) == Lower(key)) {
        lines[i] = entry;
        replaced = true;
        break;
      }
      if (!Trim(lines[i]).empty()) insertAt = i + 1;
    }
    if (!replaced) lines.insert(lines.begin() + static_cast<long>(insertAt), entry);
  }
  std::string out;
  for (const std::string& line : lines) out += line + eol;
  return out;
}

std::string WritePortEntry(const std::string& path, int com, const std::string& device) {
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      std::ostringstream all;
      all << in.rdbuf();
      text = all.str();
    }
  }
  std::string updated = WithPortEntry(text, com, device);
  // Replace the file in one step, so a reader never sees half of it.
  std::string temp = path + ".boxsim-tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot write " + temp + ": " + std::strerror(errno);
    out << updated;
    if (!out.flush()) return "cannot write " + temp + ": " + std::strerror(errno);
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::string error = "cannot replace " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return error;
  }
  return {};
}

}  // namespace boxsim
