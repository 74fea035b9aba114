// A simulated DIO board on the host's port space.
//
// The board comes in three register layouts. The general layout and layout 22
// have one register block; layout 24 has three port ranges: the information
// block (board-information bytes and the interrupt summary), the register
// block and a third range that nothing uses. Every register is 8 bits wide;
// word and double-word accesses are taken apart into bytes at consecutive
// offsets, little-endian. The registers are those of driver/dio_registers.h;
// offsets without a register of their own behave as plain byte latches.
//
// DI sources: the general layout has sources 0 to 7 (INTST0/INTEN0 bit n);
// layout 22 has the same eight plus source 8 (INTST1/INTEN1 bit 0); layout 24
// has sources 0 to 15 (8 to 15 in INTST1/INTEN1 bit n - 8). A rising edge on
// an enabled source latches its status bit; the interrupt line is asserted
// while a status bit of an enabled source is pending.
//
// A board that is gone (pulled out: surprise removal of the hardware) or
// without power reads all ones on every port, ignores writes, latches no DI
// edge and releases its interrupt line. It has power while the machine has
// (the machine loses it in S3, S4 and S5) and, on the PCI bus, while its
// device is in D0. When power returns its registers hold their power-on
// values: DO outputs low, interrupt sources off, no status pending, every
// other latch 0; the information bytes are read-only and stay. Pulled, it
// stays gone.
//
// The board is safe to use from several threads. It tells the kernel and the
// listener of its line's changes with no lock held, so they may do port I/O
// on the board itself.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "dio_registers.h"
#include "host_kernel.h"

namespace hostboard {

enum Layout { General, L22, L24 };

// The layout a board-model code selects: 22 and 24 their own, every other
// code the general layout.
Layout LayoutFor(uint32_t deviceType);

class SimBoard : public hostk::PortDevice,
                 public hostk::InterruptSource,
                 public hostk::MachinePowerListener {
 public:
  // The general layout or layout 22: one register block of `length` ports.
  SimBoard(Layout layout, uint16_t baseAddress, uint32_t length = 32);
  // Layout 24: its three port ranges in resource order.
  SimBoard(Layout layout, uint16_t infoBase, uint16_t baseAddress, uint16_t range3Base,
           uint32_t infoLength = 32, uint32_t baseLength = 128, uint32_t range3Length = 16);
  ~SimBoard() override;

  SimBoard(const SimBoard &) = delete;
  SimBoard &operator=(const SimBoard &) = delete;

  // Claims the board's port ranges; Detach (and the destructor) releases
  // them. Attaching an attached board or detaching a detached one does
  // nothing.
  void Attach();
  void Detach();
  // Puts the board's interrupt line on a vector of the kernel's interrupt
  // controller; the destructor takes it off. A rebalance that gives the
  // device another interrupt moves the line to the new vector.
  void ConnectInterruptLine(ULONG vector);
  void MoveInterruptLine(ULONG vector);

  // The hardware is taken out of the machine, at any moment, from any thread.
  void Pull();
  // The device's power: false is D3, true D0 (the bus driver's doing, see
  // OnDevicePower).
  void SetPowered(bool powered);
  // Whether the board has power now.
  bool Powered() const;
  void MachinePowerChanged(bool on) override;

  Layout layout() const { return layout_; }
  uint16_t BaseAddress() const { return ranges_[kBlock].first; }
  uint16_t InfoBase() const { return ranges_[kInfo].first; }  // layout 24 only

  // Number of DI sources of the layout: 8, 9 or 16.
  int SourceCount() const;

  // Drives DI line `source` (0 to SourceCount() - 1).
  void SetDiLine(int source, bool level);
  // A rising then falling edge on the line.
  void PulseDiLine(int source);

  // The DO latch.
  void SetDo(uint8_t value);
  uint8_t Do() const;

  uint8_t IntEn0() const;
  uint8_t IntEn1() const;  // 0 on the general layout
  uint8_t IntSt0() const;
  uint8_t IntSt1() const;  // 0 on the general layout
  uint8_t Aux70() const;   // layout 24
  uint8_t Aux80() const;   // layout 24

  // Layout 24: sets a byte of the information block (not the summary at +24).
  void SetInfoByte(uint32_t offset, uint8_t value);
  // Layout 24: makes the interrupt summary read `value` whatever the status
  // registers hold, so that odd summary values can be presented to the ISR.
  // ClearIntSumOverride returns to the computed summary.
  void OverrideIntSum(uint8_t value);
  void ClearIntSumOverride();

  bool InterruptAsserted() const override;
  // Called, with no lock held, each time the interrupt line goes from
  // deasserted to asserted.
  void SetInterruptListener(std::function<void()> listener);

  uint32_t Read(uint16_t port, int width) override;
  void Write(uint16_t port, int width, uint32_t value) override;

 private:
  enum RangeIndex { kInfo = 0, kBlock = 1, kThird = 2 };
  struct Range {
    uint16_t first = 0;
    uint32_t count = 0;  // 0: the layout has no such range
    std::vector<uint8_t> latch;
  };

  // What a port is: which range and the offset within it, or nothing.
  bool Locate(uint16_t port, int *range, uint32_t *offset) const;
  uint8_t ReadByteLocked(uint16_t port);
  void WriteByteLocked(uint16_t port, uint8_t value);
  uint8_t BlockByteLocked(int offset) const;
  bool LiveLocked() const { return present_ && powered_; }
  bool AssertedLocked() const;
  // What to tell, with the lock released, of a change of the line.
  struct LineNews {
    ULONG vector = 0;
    bool kernel = false;  // tell the kernel on `vector`
    std::function<void()> listener;  // call: the line has just risen
    void Tell() const;
  };
  // Records the line's new state.
  LineNews UpdateLineLocked();
  void CheckSource(int source) const;
  // Takes one of the two supplies; at power-on the registers are reset.
  void SupplyChanged(bool device, bool on);
  void PowerOnResetLocked();

  const Layout layout_;
  Range ranges_[3];
  mutable std::mutex mutex_;
  uint8_t intSt0_ = 0;
  uint8_t intSt1_ = 0;
  uint16_t diLevels_ = 0;
  bool intSumOverridden_ = false;
  uint8_t intSumOverride_ = 0;
  bool lineAsserted_ = false;
  bool attached_ = false;
  bool present_ = true;
  bool powered_ = true;  // both supplies are on
  bool devicePowered_ = true;
  bool machinePowered_ = true;
  bool lineConnected_ = false;
  ULONG vector_ = 0;
  std::function<void()> listener_;
};

}  // namespace hostboard
