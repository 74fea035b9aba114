// The simulated DIO board, driven through the port intrinsics the way the
// driver drives it.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "host_kernel.h"
#include "sim_board.h"

namespace {

using hostboard::General;
using hostboard::L22;
using hostboard::L24;
using hostboard::Layout;
using hostboard::SimBoard;

constexpr uint16_t kInfo = 0x200;
constexpr uint16_t kBase = 0x300;
constexpr int kNone = -1;

struct Regs {
  const char *name;
  Layout layout;
  int doReg, intEn0, intEn1, intSt0, intSt1;
  uint32_t length;
  bool zeroWriteClears;  // a write of 0 to a status register clears it all
};

const Regs kGeneral{"general", General, DIO_GENERAL_DO, DIO_GENERAL_INTEN0, kNone, DIO_GENERAL_INTST0, kNone, 32, true};
const Regs kL22{"layout 22", L22, DIO_L22_DO, DIO_L22_INTEN0, DIO_L22_INTEN1, DIO_L22_INTST0, DIO_L22_INTST1, 32, false};
const Regs kL24{"layout 24", L24, DIO_L24_DO, DIO_L24_INTEN0, DIO_L24_INTEN1, DIO_L24_INTST0, DIO_L24_INTST1, 128, false};
const Regs *const kLayouts[] = {&kGeneral, &kL22, &kL24};

std::unique_ptr<SimBoard> MakeBoard(Layout layout) {
  auto board = layout == L24 ? std::make_unique<SimBoard>(L24, kInfo, kBase, 0x400)
                             : std::make_unique<SimBoard>(layout, kBase);
  board->Attach();
  return board;
}

uint8_t In(int offset) { return __inbyte(USHORT(kBase + offset)); }
void Out(int offset, uint8_t value) { __outbyte(USHORT(kBase + offset), value); }

// A DI source's status and enable registers and its bit in both.
struct Source { int intSt, intEn; uint8_t bit; };

Source SourceOf(const Regs &regs, int source) {
  return source < 8 ? Source{regs.intSt0, regs.intEn0, uint8_t(1u << source)}
                    : Source{regs.intSt1, regs.intEn1, uint8_t(1u << (source - 8))};
}

void Enable(const Regs &regs, int source) {
  Source s = SourceOf(regs, source);
  Out(s.intEn, In(s.intEn) | s.bit);
}

TEST(SimBoardTest, LatchesSitAtTheLayoutsOffsets) {
  for (const Regs *regs : kLayouts) {
    SCOPED_TRACE(regs->name);
    auto board = MakeBoard(regs->layout);
    board->SetDo(0xA5);
    EXPECT_EQ(In(regs->doReg), 0xA5);
    Out(regs->doReg, 0x3C);
    EXPECT_EQ(board->Do(), 0x3C);
    for (int offset : {regs->intEn0, regs->intEn1, 3, int(regs->length) - 1}) {
      if (offset == kNone) continue;
      Out(offset, uint8_t(0x40 + offset));
      EXPECT_EQ(In(offset), 0x40 + offset) << "offset " << offset;
    }
    EXPECT_EQ(In(regs->length), 0xFF) << "past the block";
    // Wide accesses are taken apart into bytes, little-endian.
    EXPECT_EQ(__indword(kBase), In(0) | In(1) << 8 | In(2) << 16 | uint32_t(In(3)) << 24);
  }
}

TEST(SimBoardTest, SourcesLatchOnRisingEdgesWhileEnabledAndAreAcknowledgedByWrites) {
  const std::pair<const Regs *, int> cases[] = {
      {&kGeneral, 0}, {&kGeneral, 7}, {&kL22, 3}, {&kL22, 8}, {&kL24, 5}, {&kL24, 8}, {&kL24, 15},
  };
  for (const auto &[regs, source] : cases) {
    SCOPED_TRACE(::testing::Message() << regs->name << " source " << source);
    auto board = MakeBoard(regs->layout);
    const Source s = SourceOf(*regs, source);
    const int otherSt = source < 8 ? regs->intSt1 : regs->intSt0;
    board->PulseDiLine(source);  // disabled: missed for good
    Enable(*regs, source);
    EXPECT_EQ(In(s.intSt), 0);
    board->SetDiLine(source, true);
    EXPECT_EQ(In(s.intSt), s.bit);
    EXPECT_EQ(otherSt == kNone ? 0 : In(otherSt), 0) << "the other status register";
    EXPECT_TRUE(board->InterruptAsserted());
    Out(s.intSt, uint8_t(~s.bit));  // other bits only
    EXPECT_EQ(In(s.intSt), s.bit);
    Out(s.intSt, 0);
    EXPECT_EQ(In(s.intSt), regs->zeroWriteClears ? 0 : s.bit);
    Out(s.intSt, s.bit);
    EXPECT_EQ(In(s.intSt), 0);
    EXPECT_FALSE(board->InterruptAsserted());
    board->SetDiLine(source, true);  // still high: no edge
    EXPECT_EQ(In(s.intSt), 0);
    board->SetDiLine(source, false);
    board->SetDiLine(source, true);
    EXPECT_EQ(In(s.intSt), s.bit);
  }
}

// The line and its listener do not depend on the layout.
TEST(SimBoardTest, LineFollowsEnabledPendingSourcesAndEachRiseCallsTheListener) {
  auto board = MakeBoard(L22);
  // The listener runs with no lock held: it may read the board's ports (a
  // bounded number of times, so that a listener called over and over fails).
  std::vector<uint8_t> seen;
  int calls = 0;
  board->SetInterruptListener([&] {
    if (++calls <= 4) seen.push_back(In(kL22.intSt0));
  });
  Enable(kL22, 0);
  Enable(kL22, 3);
  board->PulseDiLine(0);
  board->PulseDiLine(3);  // already asserted: no new call
  EXPECT_EQ(seen, std::vector<uint8_t>{0x01});
  Out(kL22.intSt0, 0x01);
  EXPECT_TRUE(board->InterruptAsserted());
  Out(kL22.intSt0, 0x08);
  EXPECT_FALSE(board->InterruptAsserted());
  board->PulseDiLine(3);
  EXPECT_EQ(seen, (std::vector<uint8_t>{0x01, 0x08}));
  // Masking a pending source drops the line; unmasking raises it again.
  Out(kL22.intEn0, 0x00);
  EXPECT_FALSE(board->InterruptAsserted());
  Out(kL22.intEn0, 0x08);
  EXPECT_TRUE(board->InterruptAsserted());
  EXPECT_EQ(seen, (std::vector<uint8_t>{0x01, 0x08, 0x08}));
}

// A board without power (its device in D3, or the machine in S3 to S5) or
// pulled out reads all ones and lets its line go; when power returns its
// registers are at their power-on values, its information bytes as they
// were; pulled, it stays gone. It has power only with both supplies. Power
// does not depend on the layout: layout 24 has every kind of register.
TEST(SimBoardTest, ABoardWithoutPowerOrPulledReadsAllOnes) {
  for (bool machine : {false, true}) {
    SCOPED_TRACE(machine ? "the machine's power" : "D3");
    auto board = MakeBoard(L24);
    auto power = [&](bool on) { machine ? board->MachinePowerChanged(on) : board->SetPowered(on); };
    auto other = [&](bool on) { machine ? board->SetPowered(on) : board->MachinePowerChanged(on); };
    Enable(kL24, 0);
    Out(kL24.doReg, 0x5A);
    board->PulseDiLine(0);
    ASSERT_TRUE(board->InterruptAsserted());
    const uint8_t info = __inbyte(kInfo);

    power(false);
    other(false);
    other(true);
    EXPECT_FALSE(board->Powered()) << "the other supply alone";
    EXPECT_FALSE(board->InterruptAsserted());
    for (int offset : {kL24.doReg, kL24.intEn0, kL24.intSt0, 3}) EXPECT_EQ(In(offset), 0xFF);
    EXPECT_EQ(__indword(kBase), 0xFFFFFFFFu);
    EXPECT_EQ(__inbyte(kInfo), 0xFF);
    power(true);
    for (int offset : {kL24.doReg, kL24.intEn0, kL24.intSt0, 3}) {
      EXPECT_EQ(In(offset), 0x00) << "offset " << offset << " at its power-on value";
    }
    EXPECT_EQ(__inbyte(kInfo), info) << "the information bytes are read-only";
    EXPECT_FALSE(board->InterruptAsserted());
    Enable(kL24, 1);
    board->PulseDiLine(1);
    EXPECT_TRUE(board->InterruptAsserted()) << "a live board again";

    board->Pull();
    EXPECT_FALSE(board->InterruptAsserted());
    EXPECT_EQ(In(kL24.intSt0), 0xFF);
    power(true);
    EXPECT_EQ(In(kL24.doReg), 0xFF) << "gone for good";
  }
}

// Layout 24's information bytes, the summary byte among them, are
// read-only to the driver. What the summary shows of pending status, and a
// test's override of it, the driver's event tests hold.
TEST(SimBoardTest, Layout24InformationBytesAreReadOnly) {
  auto board = MakeBoard(L24);
  EXPECT_EQ(__inbyte(kInfo), 0x0F) << "sixteen inputs: two status bytes";
  const uint16_t sum = kInfo + 24;
  __outbyte(sum, 0x01);  // read-only
  EXPECT_EQ(__inbyte(sum), 0x00);
  for (uint32_t offset : {0, 1, 2, 4, 5, 6, 31}) {
    SCOPED_TRACE(offset);
    board->SetInfoByte(offset, uint8_t(0xC0 + offset));
    __outbyte(USHORT(kInfo + offset), 0x00);
    EXPECT_EQ(__inbyte(USHORT(kInfo + offset)), 0xC0 + offset);
  }
}

}  // namespace
