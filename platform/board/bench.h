// The standard bench the simulator, the tests, the applet simulator and the
// fuzz target share: a board of each model at fixed ports with its
// interrupt, the start request's resources for it, the device path a program
// reads from the registry, and the bring-up of a driver for that board from
// its load to its removal.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench_names.h"
#include "bench_ports.h"
#include "sim_board.h"

namespace hostboard {

// A board of the model's layout at the bench's ports, attached to the port
// space, its interrupt line on the bench's vector.
std::unique_ptr<SimBoard> BenchBoard(uint32_t model);

// The start request's two resource lists for that board.
struct StartResources {
  std::vector<uint8_t> raw;
  std::vector<uint8_t> translated;
};
StartResources BenchResources(uint32_t model);

// The path the driver published for device 0 (the device map's value "0",
// "\\.\..." stored without a terminator); empty when there is none.
std::u16string PublishedDevicePath();

// Records the board model in the service key ("DeviceType"), as the
// installation does.
void InstallModel(uint32_t model);

// A driver on the bench, brought up the way Windows does it: loaded with
// the service key's path, handed a PDO of the simulated bus for each board
// (AddDevice), started with the board's resources, and removed through Plug
// and Play. The bench owns what it brings up and takes down whatever is
// still up when it goes. Its parts are open for harnesses that go a step at
// a time or put things of their own in place.
struct Bench {
  explicit Bench(PDRIVER_INITIALIZE entry) : entry(entry) {}
  ~Bench() { TakeDown(); }
  Bench(const Bench &) = delete;
  Bench &operator=(const Bench &) = delete;

  // Runs DriverEntry with the service key's path, making the key when it is
  // missing. `driver` stays null when the entry fails.
  NTSTATUS Load();
  // Attaches a board of the model at the bench's ports, and takes the start
  // resources for it.
  SimBoard &Attach(uint32_t model);
  // Hands AddDevice a new PDO (kept in `pdos` whatever the outcome) and
  // returns its status. The attached board follows the PDO's device power
  // state: D0 powers it, any other state powers it down.
  NTSTATUS Add(const hostk::PdoConfig &config = {});
  // The driver's device on the newest PDO, or none.
  PDEVICE_OBJECT Device() const;
  // Starts the newest PDO's stack with the attached board's resources, or a
  // PDO's with other resources.
  hostk::IrpResult Start();
  hostk::IrpResult Start(PDEVICE_OBJECT pdo, StartResources &resources);
  // All of it for one board of the model: installs the model, attaches the
  // board, loads, adds and starts. The first status that is not a success,
  // or STATUS_SUCCESS with the board started.
  NTSTATUS BringUp(uint32_t model, const hostk::PdoConfig &config = {});
  // The removal request Plug and Play sends when the newest PDO's board goes.
  hostk::IrpResult Remove();
  // Removes every device still on a PDO, deletes the PDOs, unloads the
  // driver and detaches the board.
  void TakeDown();
  // After the machine has rebooted (hostk::Reboot): what the last boot
  // brought up is gone without a request; the bench forgets it and starts
  // empty, its board detached.
  void Forget();

  PDRIVER_INITIALIZE entry;
  PDRIVER_OBJECT driver = nullptr;
  std::vector<PDEVICE_OBJECT> pdos;
  std::unique_ptr<SimBoard> board;
  StartResources resources;  // for the attached board
};

}  // namespace hostboard
