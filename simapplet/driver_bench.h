// The driver's side, behind plain C++ so that the rest of the simulator sees
// only the Win32 headers: TesZEPDIO loaded into the kernel stand-in for a
// board model, with the bench's simulated board of that model.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace appletsim {

class DriverBench {
 public:
  // Records the model in the service key ("DeviceType"), attaches the board,
  // whose DO register reads all ones, and loads the driver. `Loaded` tells
  // whether DriverEntry succeeded.
  explicit DriverBench(uint32_t model);
  // Removes the device, as Plug and Play does when the board goes, and
  // unloads the driver.
  ~DriverBench();
  DriverBench(const DriverBench &) = delete;
  DriverBench &operator=(const DriverBench &) = delete;

  bool Loaded() const;
  // Adds a device for the board and starts it; the status as text.
  std::string StartBoard();
  // Stops the device and starts it again, as Plug and Play does when it
  // rebalances resources: the driver reads the DO key again.
  std::string RestartBoard();
  uint8_t DoRegister() const;
  std::string LayoutName() const;

 private:
  struct Machine;
  std::unique_ptr<Machine> machine_;
};

// What the kernel stand-in still holds, one line each; empty when balanced.
std::vector<std::string> KernelOutstanding();

}  // namespace appletsim
