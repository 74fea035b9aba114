#include "sim_board.h"

#include <stdexcept>
#include <string>

namespace hostboard {
namespace {

constexpr int kNone = -1;

// Register offsets within the register block.
struct BlockMap {
  int doReg, intEn0, intEn1, intSt0, intSt1, aux70, aux80;
  uint8_t group1Mask;  // INTST1/INTEN1 bits that belong to DI sources
  int sources;
};

const BlockMap &MapOf(Layout layout) {
  static const BlockMap general{DIO_GENERAL_DO, DIO_GENERAL_INTEN0, kNone, DIO_GENERAL_INTST0, kNone, kNone,
                                kNone, 0x00, 8};
  static const BlockMap l22{DIO_L22_DO, DIO_L22_INTEN0, DIO_L22_INTEN1, DIO_L22_INTST0, DIO_L22_INTST1,
                            kNone, kNone, 0x01, 9};
  static const BlockMap l24{DIO_L24_DO,    DIO_L24_INTEN0, DIO_L24_INTEN1, DIO_L24_INTST0, DIO_L24_INTST1,
                            DIO_L24_AUX70, DIO_L24_AUX80,  0xFF,           16};
  switch (layout) {
    case L22: return l22;
    case L24: return l24;
    default: return general;
  }
}

// Layout 24's information block.
constexpr uint32_t kIntSum = DIO_L24_INTSUM;
constexpr uint32_t kInfoOffsets[DIO_L24_INFO_BYTES] = DIO_L24_INFO_OFFSETS;
constexpr uint32_t kMinInfoLength = 32;

bool IsInfoByte(uint32_t offset) {
  for (uint32_t info : kInfoOffsets)
    if (offset == info) return true;
  return false;
}

// The block must hold every register of its layout.
uint32_t MinBlockLength(Layout layout) {
  const BlockMap &map = MapOf(layout);
  int highest = 0;
  for (int offset : {map.doReg, map.intEn0, map.intEn1, map.intSt0, map.intSt1, map.aux70,
                     map.aux80})
    if (offset > highest) highest = offset;
  return uint32_t(highest) + 1;
}

void CheckLength(uint32_t length, uint32_t minimum, const char *what) {
  if (length < minimum || length > 0x10000)
    throw std::invalid_argument(std::string(what) + " of " + std::to_string(length) +
                                " ports is outside " + std::to_string(minimum) + " to 65536");
}

}  // namespace

Layout LayoutFor(uint32_t deviceType) {
  if (deviceType == DIO_MODEL_NINE_CHANNEL) return L22;
  if (deviceType == DIO_MODEL_DIO_INFO) return L24;
  return General;
}

SimBoard::SimBoard(Layout layout, uint16_t baseAddress, uint32_t length) : layout_(layout) {
  if (layout == L24)
    throw std::invalid_argument("a layout-24 board needs its three port ranges");
  CheckLength(length, MinBlockLength(layout), "register block");
  ranges_[kBlock].first = baseAddress;
  ranges_[kBlock].count = length;
  ranges_[kBlock].latch.assign(length, 0);
}

SimBoard::SimBoard(Layout layout, uint16_t infoBase, uint16_t baseAddress, uint16_t range3Base,
                   uint32_t infoLength, uint32_t baseLength, uint32_t range3Length)
    : layout_(layout) {
  if (layout != L24) throw std::invalid_argument("only a layout-24 board has three port ranges");
  CheckLength(infoLength, kMinInfoLength, "information block");
  CheckLength(baseLength, MinBlockLength(layout), "register block");
  CheckLength(range3Length, 1, "third range");
  ranges_[kInfo] = Range{infoBase, infoLength, std::vector<uint8_t>(infoLength, 0)};
  ranges_[kBlock] = Range{baseAddress, baseLength, std::vector<uint8_t>(baseLength, 0)};
  ranges_[kThird] = Range{range3Base, range3Length, std::vector<uint8_t>(range3Length, 0)};
  // A 16-input board: the highest input number, 15, in the first byte gives
  // two status bytes to scan; the rest are arbitrary but non-zero where a
  // reader might want to tell them from an empty port.
  std::vector<uint8_t> &info = ranges_[kInfo].latch;
  info[0] = 0x0F;
  info[1] = 0x0F;
  info[2] = 0x02;
  info[31] = 0x01;
}

SimBoard::~SimBoard() {
  hostk::DetachMachinePower(this);
  hostk::DetachInterruptSource(this);
  Detach();
}

// An attached board is in the machine and takes the machine's power.
void SimBoard::Attach() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (attached_) return;
    for (const Range &range : ranges_)
      if (range.count != 0) hostk::ClaimPorts(range.first, range.count, this);
    attached_ = true;
  }
  hostk::AttachMachinePower(this);
  SupplyChanged(false, hostk::MachinePowered());
}

void SimBoard::Detach() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!attached_) return;
    hostk::ReleasePorts(this);
    attached_ = false;
  }
  hostk::DetachMachinePower(this);
}

void SimBoard::ConnectInterruptLine(ULONG vector) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (lineConnected_) throw std::logic_error("the board's interrupt line is connected already");
    lineConnected_ = true;
    vector_ = vector;
  }
  hostk::AttachInterruptSource(vector, this);
}

void SimBoard::MoveInterruptLine(ULONG vector) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!lineConnected_) throw std::logic_error("the board's interrupt line is not connected");
  }
  hostk::DetachInterruptSource(this);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    vector_ = vector;
    lineAsserted_ = false;
  }
  hostk::AttachInterruptSource(vector, this);
  LineNews news;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    news = UpdateLineLocked();
  }
  news.Tell();
}

void SimBoard::Pull() {
  LineNews news;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    present_ = false;
    news = UpdateLineLocked();
  }
  news.Tell();
}

void SimBoard::SetPowered(bool powered) { SupplyChanged(true, powered); }

void SimBoard::MachinePowerChanged(bool on) { SupplyChanged(false, on); }

bool SimBoard::Powered() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return powered_;
}

void SimBoard::SupplyChanged(bool device, bool on) {
  LineNews news;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    (device ? devicePowered_ : machinePowered_) = on;
    const bool powered = devicePowered_ && machinePowered_;
    if (powered && !powered_) PowerOnResetLocked();
    powered_ = powered;
    news = UpdateLineLocked();
  }
  news.Tell();
}

void SimBoard::PowerOnResetLocked() {
  for (int i : {kBlock, kThird}) ranges_[i].latch.assign(ranges_[i].count, 0);
  intSt0_ = 0;
  intSt1_ = 0;
}

int SimBoard::SourceCount() const { return MapOf(layout_).sources; }

void SimBoard::CheckSource(int source) const {
  if (source < 0 || source >= SourceCount())
    throw std::out_of_range("DI source " + std::to_string(source) + " does not exist on this board");
}

void SimBoard::SetDiLine(int source, bool level) {
  CheckSource(source);
  LineNews news;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    const BlockMap &map = MapOf(layout_);
    const uint16_t line = uint16_t(1u << source);
    // A board without power sees no edge.
    const bool rising = level && !(diLevels_ & line) && LiveLocked();
    diLevels_ = level ? uint16_t(diLevels_ | line) : uint16_t(diLevels_ & ~line);
    if (rising) {
      const uint8_t bit = uint8_t(1u << (source & 7));
      if (source < 8) {
        if (BlockByteLocked(map.intEn0) & bit) intSt0_ |= bit;
      } else {
        if (BlockByteLocked(map.intEn1) & bit) intSt1_ |= bit;
      }
    }
    news = UpdateLineLocked();
  }
  news.Tell();
}

void SimBoard::PulseDiLine(int source) {
  SetDiLine(source, true);
  SetDiLine(source, false);
}

void SimBoard::SetDo(uint8_t value) {
  std::lock_guard<std::mutex> hold(mutex_);
  ranges_[kBlock].latch[MapOf(layout_).doReg] = value;
}

uint8_t SimBoard::Do() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return BlockByteLocked(MapOf(layout_).doReg);
}

uint8_t SimBoard::IntEn0() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return BlockByteLocked(MapOf(layout_).intEn0);
}

uint8_t SimBoard::IntEn1() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return BlockByteLocked(MapOf(layout_).intEn1);
}

uint8_t SimBoard::IntSt0() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return intSt0_;
}

uint8_t SimBoard::IntSt1() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return intSt1_;
}

uint8_t SimBoard::Aux70() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return BlockByteLocked(MapOf(layout_).aux70);
}

uint8_t SimBoard::Aux80() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return BlockByteLocked(MapOf(layout_).aux80);
}

void SimBoard::SetInfoByte(uint32_t offset, uint8_t value) {
  if (layout_ != L24) throw std::logic_error("only a layout-24 board has an information block");
  std::lock_guard<std::mutex> hold(mutex_);
  if (offset >= ranges_[kInfo].count || offset == kIntSum)
    throw std::out_of_range("no information byte at offset " + std::to_string(offset));
  ranges_[kInfo].latch[offset] = value;
}

void SimBoard::OverrideIntSum(uint8_t value) {
  std::lock_guard<std::mutex> hold(mutex_);
  intSumOverridden_ = true;
  intSumOverride_ = value;
}

void SimBoard::ClearIntSumOverride() {
  std::lock_guard<std::mutex> hold(mutex_);
  intSumOverridden_ = false;
}

bool SimBoard::InterruptAsserted() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return AssertedLocked();
}

void SimBoard::SetInterruptListener(std::function<void()> listener) {
  std::lock_guard<std::mutex> hold(mutex_);
  listener_ = std::move(listener);
}

uint32_t SimBoard::Read(uint16_t port, int width) {
  LineNews news;
  uint32_t value = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    for (int i = 0; i < width; ++i) {
      uint32_t byte = LiveLocked() ? ReadByteLocked(uint16_t(port + i)) : 0xFF;
      value |= byte << (8 * i);
    }
    news = UpdateLineLocked();
  }
  news.Tell();
  return value;
}

void SimBoard::Write(uint16_t port, int width, uint32_t value) {
  LineNews news;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!LiveLocked()) return;  // nothing there to take it
    for (int i = 0; i < width; ++i)
      WriteByteLocked(uint16_t(port + i), uint8_t(value >> (8 * i)));
    news = UpdateLineLocked();
  }
  news.Tell();
}

bool SimBoard::Locate(uint16_t port, int *range, uint32_t *offset) const {
  for (int i = 0; i < 3; ++i) {
    uint32_t at = uint16_t(port - ranges_[i].first);
    if (at < ranges_[i].count) {
      *range = i;
      *offset = at;
      return true;
    }
  }
  return false;
}

uint8_t SimBoard::ReadByteLocked(uint16_t port) {
  int range;
  uint32_t offset;
  if (!Locate(port, &range, &offset)) return 0xFF;
  const BlockMap &map = MapOf(layout_);
  if (range == kInfo && offset == kIntSum) {
    if (intSumOverridden_) return intSumOverride_;
    return (intSt0_ | intSt1_) ? DIO_L24_SUMMARY_DI : 0x00;
  }
  if (range == kBlock && int(offset) == map.intSt0) return intSt0_;
  if (range == kBlock && int(offset) == map.intSt1) return intSt1_;
  return ranges_[range].latch[offset];
}

void SimBoard::WriteByteLocked(uint16_t port, uint8_t value) {
  int range;
  uint32_t offset;
  if (!Locate(port, &range, &offset)) return;
  const BlockMap &map = MapOf(layout_);
  if (range == kInfo && (offset == kIntSum || IsInfoByte(offset))) return;  // read-only
  if (range == kBlock && int(offset) == map.intSt0) {
    // Status bits are acknowledged by writing 1s back. The general layout's
    // status register is instead cleared by a write, which is why its reset
    // writes 0 there; a zero write therefore clears every bit. A non-zero
    // write still clears only the bits written, so that a source firing
    // between the ISR's read and its write-back is not lost.
    if (layout_ == General && value == 0)
      intSt0_ = 0;
    else
      intSt0_ &= uint8_t(~value);
    return;
  }
  if (range == kBlock && int(offset) == map.intSt1) {
    intSt1_ &= uint8_t(~value);
    return;
  }
  ranges_[range].latch[offset] = value;
}

uint8_t SimBoard::BlockByteLocked(int offset) const {
  return offset == kNone ? 0 : ranges_[kBlock].latch[offset];
}

bool SimBoard::AssertedLocked() const {
  const BlockMap &map = MapOf(layout_);
  return LiveLocked() && ((intSt0_ & BlockByteLocked(map.intEn0)) != 0 ||
                          (intSt1_ & BlockByteLocked(map.intEn1) & map.group1Mask) != 0);
}

SimBoard::LineNews SimBoard::UpdateLineLocked() {
  const bool asserted = AssertedLocked();
  LineNews news;
  news.vector = vector_;
  news.kernel = lineConnected_ && asserted != lineAsserted_;
  if (asserted && !lineAsserted_) news.listener = listener_;
  lineAsserted_ = asserted;
  return news;
}

void SimBoard::LineNews::Tell() const {
  if (kernel) hostk::InterruptLineChanged(vector);
  if (listener) listener();
}

}  // namespace hostboard
