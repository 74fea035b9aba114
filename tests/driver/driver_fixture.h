// The driver on a fresh host machine, taken down when the test (or a table row)
// ends; and the registry, port-trace and user-program helpers the tests share.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver.h"
#include "host_kernel.h"
#include "registry_store.h"
#include "bench.h"
#include "user_mode.h"

namespace diotest {

using hostboard::kDeviceMapKey;
using hostboard::kServiceKey;  // as installed, "\REGISTRY\MACHINE\...\TESZEPDIOS"
extern const std::string kService0;  // the service key's "Device000"
extern const std::string kDoKey;     // the service key's "DO"
extern const std::string kMap0;      // the device map's "Device000"
extern const std::string kMapEntry;  // the device map's "MapEntry"

// The registry value as written: its type and raw bytes.
struct StoredValue {
  uint32_t type;
  std::vector<uint8_t> data;
};
StoredValue Stored(const std::string &keyPath, const std::string &name);
bool HasValue(const std::string &keyPath, const std::string &name);
uint32_t StoredDword(const std::string &keyPath, const std::string &name);
// The path a user program opens the device by: the device map's value "0".
inline std::u16string DevicePath() { return hostboard::PublishedDevicePath(); }
// The path of the first device's interface, there before a start publishes
// one (empty when there is no interface).
std::u16string InterfacePath();
// Records DO settings in the "DO" key, as the applet does.
void StoreDo(const DIO_DO_CONFIG &config);
// The DO settings a device holds, in DIO_DO_CONFIG order.
std::vector<ULONG> DoFields(PDEVICE_EXTENSION x);

// The port trace's accesses (or these), one described access a line.
std::vector<std::string> Trace();
std::vector<std::string> Describe(const std::vector<hostk::PortAccess> &accesses);

// The bench's ports and interrupt, and the start request's resources.
using hostboard::kAffinity, hostboard::kInfoBase, hostboard::kRawLevel, hostboard::kRegisterBase,
    hostboard::kThirdBase, hostboard::kTranslatedLevel, hostboard::kTranslatedVector, hostboard::StartResources;
// The resources of a board of the loaded model.
StartResources BoardResources();
StartResources SameResources(const std::vector<hostk::Resource> &descriptors);

// A user program, current on the calling thread while it lives; its end
// closes its handles.
class Program {
 public:
  explicit Program(const char *name = "program") : process_(name), scope_(process_) {}
  HANDLE Open(ACCESS_MASK access = GENERIC_READ | GENERIC_WRITE, NTSTATUS expected = STATUS_SUCCESS,
              const std::u16string &path = DevicePath());
  hostk::user::Process &process() { return process_; }

 private:
  hostk::user::Process process_;
  hostk::user::ProcessScope scope_;
};

class DriverTest : public testing::Test {
 protected:
  // Loads the driver; without `deviceType` the key has no "DeviceType".
  void Load();
  void Load(uint32_t deviceType);

  // AddDevice for a new PDO: the device object, or none.
  PDEVICE_OBJECT Add(const hostk::PdoConfig &config = {});

  // Attaches a simulated board of the loaded model at the default ports.
  hostboard::SimBoard &AttachBoard();
  // Loads for `model`, attaches its board and adds a device; not started.
  PDEVICE_OBJECT AddedDevice(uint32_t model);
  // Loads for `model` and starts a device on a board `prepare` may set up
  // first; the port trace starts empty.
  PDEVICE_OBJECT StartedDevice(uint32_t model, const std::function<void(hostboard::SimBoard &)> &prepare = {});
  // Starts the newest PDO's stack (by default with the board's resources).
  hostk::IrpResult StartWith(StartResources resources = BoardResources());
  PDEVICE_OBJECT Pdo(size_t i = 0) const { return pdos_[i]; }
  hostk::IrpResult Pnp(UCHAR minor) { return hostk::SendPnp(Pdo(), minor); }

  static PDEVICE_EXTENSION Extension(PDEVICE_OBJECT device) {
    return static_cast<PDEVICE_EXTENSION>(device->DeviceExtension);
  }

  // A table row's fresh machine: what the row before left behind fails the test.
  void FreshRow();
  // The same, the row named in every failure while the trace lives.
  [[nodiscard]] std::unique_ptr<testing::ScopedTrace> FreshRow(const std::string &row);

  void TearDown() override;

  hostboard::Bench bench_{DriverEntry};
  // The bench's driver, PDOs and board, under the names the tests use.
  PDRIVER_OBJECT &driver_ = bench_.driver;
  std::vector<PDEVICE_OBJECT> &pdos_ = bench_.pdos;
  std::unique_ptr<hostboard::SimBoard> &board_ = bench_.board;
};

}  // namespace diotest
