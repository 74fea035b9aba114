#include "driver_fixture.h"

#include <cstring>

namespace diotest {

const char kServiceKey[] = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\TESZEPDIOS";
const char kDeviceMapKey[] = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZEPDIO";

StoredValue Stored(const std::string &keyPath, const std::string &name) {
  hostreg::Value value;
  if (!hostreg::GetValue(keyPath, name, &value)) {
    ADD_FAILURE() << "no value \"" << name << "\" in " << keyPath;
    return StoredValue{0, {}};
  }
  return StoredValue{value.type, value.data};
}

bool HasValue(const std::string &keyPath, const std::string &name) {
  hostreg::Value value;
  return hostreg::GetValue(keyPath, name, &value);
}

uint32_t StoredDword(const std::string &keyPath, const std::string &name) {
  StoredValue value = Stored(keyPath, name);
  EXPECT_EQ(value.type, uint32_t(REG_DWORD)) << name;
  uint32_t dword = 0;
  if (value.data.size() == 4) memcpy(&dword, value.data.data(), 4);
  else ADD_FAILURE() << name << " holds " << value.data.size() << " bytes";
  return dword;
}

std::vector<std::string> ValueNames(const std::string &keyPath) {
  std::vector<std::string> names;
  hostreg::KeyRef key = hostreg::Find(keyPath);
  if (!key) return names;
  std::lock_guard<std::recursive_mutex> hold(hostreg::Lock());
  for (const auto &value : key->values) names.push_back(hostreg::ToUtf8(value.name));
  return names;
}

std::vector<uint8_t> WideBytes(const std::u16string &text, bool terminated) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(uint8_t(c & 0xFF));
    bytes.push_back(uint8_t(c >> 8));
  }
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

void DriverTest::Load() {
  hostreg::Make(kServiceKey);
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  driver_ = hostk::LoadDriver(DriverEntry, hostreg::FromUtf8(kServiceKey), &status);
  ASSERT_EQ(status, STATUS_SUCCESS);
  ASSERT_NE(driver_, nullptr);
}

void DriverTest::Load(uint32_t deviceType) {
  hostreg::PutDword(kServiceKey, "DeviceType", deviceType);
  Load();
}

void DriverTest::LoadWithRawDeviceType(uint32_t type, const std::vector<uint8_t> &bytes) {
  hostreg::SetValue(hostreg::Make(kServiceKey), u"DeviceType", type, bytes.data(), bytes.size());
  Load();
}

PDEVICE_OBJECT DriverTest::Add(const hostk::PdoConfig &config, NTSTATUS *status) {
  PDEVICE_OBJECT pdo = hostk::CreatePdo(config);
  pdos_.push_back(pdo);
  NTSTATUS result = hostk::AddDevice(driver_, pdo);
  if (status) *status = result;
  if (!NT_SUCCESS(result)) return nullptr;
  return pdo->AttachedDevice;
}

StartResources SameResources(const std::vector<hostk::Resource> &descriptors) {
  return StartResources{hostk::ResourceList(descriptors), hostk::ResourceList(descriptors)};
}

StartResources BoardResources() { return BoardResources(gDeviceType); }

StartResources BoardResources(uint32_t model) { return hostboard::BenchResources(model); }

hostboard::SimBoard &DriverTest::AttachBoard() {
  board_ = hostboard::BenchBoard(gDeviceType);
  return *board_;
}

hostk::IrpResult DriverTest::Start(PDEVICE_OBJECT pdo, StartResources &resources) {
  return hostk::StartDevice(pdo, hostk::AsList(resources.raw), hostk::AsList(resources.translated));
}

PDEVICE_OBJECT DriverTest::StartedDevice(uint32_t model) {
  Load(model);
  AttachBoard();
  PDEVICE_OBJECT device = Add();
  EXPECT_NE(device, nullptr);
  if (!device) return nullptr;
  StartResources resources = BoardResources();
  hostk::IrpResult result = Start(pdos_.back(), resources);
  EXPECT_EQ(result.ioStatus.Status, STATUS_SUCCESS);
  hostk::ClearPortTrace();
  return device;
}

// Removes every device still there through Plug and Play, takes the PDOs
// away and unloads the driver.
void DriverTest::TearDown() {
  for (PDEVICE_OBJECT pdo : pdos_) {
    if (pdo->AttachedDevice) hostk::SendPnp(pdo, IRP_MN_REMOVE_DEVICE);
  }
  for (PDEVICE_OBJECT pdo : pdos_) hostk::DeletePdo(pdo);
  board_.reset();
  pdos_.clear();
  if (driver_) hostk::UnloadDriver(driver_);
  driver_ = nullptr;
}

}  // namespace diotest
