// The driver's side of the meeting test, behind plain C++ so that the test
// itself sees only the Win32 headers: the driver loaded into the kernel
// stand-in for a board model, with a simulated board it starts on.
#pragma once

#include <cstdint>
#include <memory>

namespace meeting {

class DriverSide {
 public:
  // Loads the driver for `model` and attaches a board whose DO register
  // reads all ones.
  explicit DriverSide(uint32_t model);
  ~DriverSide();
  // Adds a device for the board and starts it, as Plug and Play does.
  bool StartBoard();
  // Removes the device again, as Plug and Play does when the board goes.
  void RemoveBoard();
  uint8_t DoRegister() const;

 private:
  struct Harness;
  std::unique_ptr<Harness> harness_;
};

}  // namespace meeting
