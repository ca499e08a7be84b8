// Storage behind SetDeviceMapping: port names compared without regard to case, as Windows
// compares device names.
#pragma once

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace drv {

class DeviceMapStore {
 public:
  static DeviceMapStore& Instance();

  void Set(const std::string& portName, const std::string& device) {
    std::lock_guard lock(m_);
    map_[Key(portName)] = device;
  }
  void Clear() {
    std::lock_guard lock(m_);
    map_.clear();
  }
  std::optional<std::string> Find(const std::string& portName) const {
    std::lock_guard lock(m_);
    const auto it = map_.find(Key(portName));
    if (it == map_.end()) return std::nullopt;
    return it->second;
  }

  static std::string Key(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name;
  }

 private:
  mutable std::mutex m_;
  std::map<std::string, std::string> map_;
};

}  // namespace drv
