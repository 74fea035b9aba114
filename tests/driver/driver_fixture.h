// Loads the driver into a fresh host machine on the bench, adds devices for
// PDOs of the simulated bus, and takes everything down again when the test
// (or a table row) ends.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "driver.h"
#include "host_kernel.h"
#include "registry_store.h"
#include "bench.h"

namespace diotest {

using hostboard::kDeviceMapKey;
using hostboard::kServiceKey;  // as installed, "\REGISTRY\MACHINE\...\TESZEPDIOS"

// The registry value as written: its type and raw bytes.
struct StoredValue {
  uint32_t type;
  std::vector<uint8_t> data;
};
StoredValue Stored(const std::string &keyPath, const std::string &name);
bool HasValue(const std::string &keyPath, const std::string &name);
uint32_t StoredDword(const std::string &keyPath, const std::string &name);
// The names of a key's values in the order they were first written.
std::vector<std::string> ValueNames(const std::string &keyPath);
// The path a user program opens the device by: the device map's value "0".
inline std::u16string DevicePath() { return hostboard::PublishedDevicePath(); }
// Bytes of a wide text, with its terminator when `terminated`.
std::vector<uint8_t> WideBytes(const std::u16string &text, bool terminated);

// The bench's ports and interrupt, and the start request's resources.
using hostboard::kAffinity;
using hostboard::kInfoBase;
using hostboard::kRawLevel;
using hostboard::kRegisterBase;
using hostboard::kThirdBase;
using hostboard::kTranslatedLevel;
using hostboard::kTranslatedVector;
using hostboard::StartResources;
// The resources of a board of the loaded model, or of `model`.
StartResources BoardResources();
StartResources BoardResources(uint32_t model);
StartResources SameResources(const std::vector<hostk::Resource> &descriptors);

class DriverTest : public testing::Test {
 protected:
  // Creates the service key and loads the driver. Without `deviceType` the
  // key has no "DeviceType" value.
  void Load();
  void Load(uint32_t deviceType);
  // Loads with "DeviceType" holding exactly these bytes, of this type.
  void LoadWithRawDeviceType(uint32_t type, const std::vector<uint8_t> &bytes);

  // Runs AddDevice for a new PDO; returns the function device object, or
  // none when AddDevice failed (its status in `status`).
  PDEVICE_OBJECT Add(const hostk::PdoConfig &config = {}, NTSTATUS *status = nullptr);

  // Attaches a simulated board of the loaded model at the default ports.
  hostboard::SimBoard &AttachBoard();
  // Loads for `model`, adds a device and starts it on a board; returns the
  // device object.
  PDEVICE_OBJECT StartedDevice(uint32_t model);
  hostk::IrpResult Start(PDEVICE_OBJECT pdo, StartResources &resources);
  PDEVICE_OBJECT Pdo(size_t i = 0) const { return pdos_[i]; }

  static PDEVICE_EXTENSION Extension(PDEVICE_OBJECT device) {
    return static_cast<PDEVICE_EXTENSION>(device->DeviceExtension);
  }

  // Starts a table row on a fresh machine: what the row before brought up
  // is taken down, and whatever it left behind fails the test.
  void FreshRow();

  void TearDown() override;

  hostboard::Bench bench_{DriverEntry};
  // The bench's driver, PDOs and board, under the names the tests use.
  PDRIVER_OBJECT &driver_ = bench_.driver;
  std::vector<PDEVICE_OBJECT> &pdos_ = bench_.pdos;
  std::unique_ptr<hostboard::SimBoard> &board_ = bench_.board;
};

}  // namespace diotest
