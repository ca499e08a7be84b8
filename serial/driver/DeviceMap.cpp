// The port-name map the application fills from its settings file. Shared by both platforms so
// the application can fill it everywhere; only the POSIX driver consults it (see
// posix/ResolveDeviceName.cpp).
#include "serial/driver/DeviceMap.h"

#include "serial/driver/DeviceMapStore.h"

namespace drv {

DeviceMapStore& DeviceMapStore::Instance() {
  static DeviceMapStore store;
  return store;
}

void SetDeviceMapping(const std::string& portName, const std::string& device) {
  DeviceMapStore::Instance().Set(portName, device);
}

void ClearDeviceMappings() {
  DeviceMapStore::Instance().Clear();
}

namespace {
thread_local std::string openFailureDetail;
}  // namespace

std::string OpenFailureDetail() {
  return openFailureDetail;
}

void SetOpenFailureDetail(const std::string& detail) {
  openFailureDetail = detail;
}

}  // namespace drv
