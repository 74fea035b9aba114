// The simulated DIO board, driven through the port intrinsics the way the
// driver drives it.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

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
constexpr uint16_t kThird = 0x400;
constexpr int kNone = -1;

// Register offsets from the register block, as the driver uses them.
struct Regs {
  const char *name;
  Layout layout;
  int doReg, intEn0, intEn1, intSt0, intSt1;
  int sources;
};

const Regs kLayouts[] = {
    {"general", General, 1, 2, kNone, 7, kNone, 8},
    {"layout 22", L22, 0, 4, 5, 8, 9, 9},
    {"layout 24", L24, 1, 2, 10, 7, 15, 16},
};

std::unique_ptr<SimBoard> MakeBoard(Layout layout) {
  std::unique_ptr<SimBoard> board =
      layout == L24 ? std::make_unique<SimBoard>(L24, kInfo, kBase, kThird)
                    : std::make_unique<SimBoard>(layout, kBase);
  board->Attach();
  return board;
}

uint8_t In(int offset) { return __inbyte(USHORT(kBase + offset)); }
void Out(int offset, uint8_t value) { __outbyte(USHORT(kBase + offset), value); }

// Where a source's status and enable bits live.
struct SourceBits {
  int intSt, intEn;
  uint8_t bit;
};

SourceBits BitsOf(const Regs &regs, int source) {
  if (source < 8) return {regs.intSt0, regs.intEn0, uint8_t(1u << source)};
  return {regs.intSt1, regs.intEn1, uint8_t(1u << (source - 8))};
}

void Enable(const Regs &regs, int source) {
  SourceBits bits = BitsOf(regs, source);
  Out(bits.intEn, In(bits.intEn) | bits.bit);
}

class SimBoardTest : public ::testing::Test {
 protected:
  void SetUp() override { hostk::ClearPortTrace(); }
  void TearDown() override { hostk::ClearPortTrace(); }
};

TEST(LayoutForTest, OnlyCodes22And24HaveTheirOwnLayout) {
  const std::pair<uint32_t, Layout> cases[] = {
      {0, General},  {20, General}, {21, General},        {22, L22},
      {23, General}, {24, L24},     {0x10016, General}, {0xFFFFFFFF, General}};
  for (const auto &c : cases) EXPECT_EQ(hostboard::LayoutFor(c.first), c.second) << c.first;
}

TEST_F(SimBoardTest, LatchRegistersSitAtTheLayoutsOffsets) {
  for (const Regs &regs : kLayouts) {
    SCOPED_TRACE(regs.name);
    auto board = MakeBoard(regs.layout);
    board->SetDo(0xA5);
    EXPECT_EQ(In(regs.doReg), 0xA5);
    Out(regs.doReg, 0x3C);
    EXPECT_EQ(board->Do(), 0x3C);
    Out(regs.intEn0, 0x81);
    EXPECT_EQ(board->IntEn0(), 0x81);
    EXPECT_EQ(In(regs.intEn0), 0x81);
    if (regs.intEn1 != kNone) {
      Out(regs.intEn1, 0x42);
      EXPECT_EQ(board->IntEn1(), 0x42);
      EXPECT_EQ(In(regs.intEn1), 0x42);
    }
    if (regs.layout == L24) {
      Out(70, 0x12);
      Out(80, 0x34);
      EXPECT_EQ(board->Aux70(), 0x12);
      EXPECT_EQ(board->Aux80(), 0x34);
    }
  }
}

TEST_F(SimBoardTest, RisingEdgeOnAnEnabledSourceLatchesOnlyItsStatusBit) {
  struct Case {
    const Regs &regs;
    int source;
  };
  const Case cases[] = {
      {kLayouts[0], 0}, {kLayouts[0], 4}, {kLayouts[0], 7},  {kLayouts[1], 0},
      {kLayouts[1], 7}, {kLayouts[1], 8}, {kLayouts[2], 3},  {kLayouts[2], 8},
      {kLayouts[2], 12}, {kLayouts[2], 15},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.regs.name) + " source " + std::to_string(c.source));
    auto board = MakeBoard(c.regs.layout);
    Enable(c.regs, c.source);
    EXPECT_FALSE(board->InterruptAsserted());
    board->PulseDiLine(c.source);
    SourceBits bits = BitsOf(c.regs, c.source);
    EXPECT_EQ(In(bits.intSt), bits.bit);
    // The other group's status stays clear.
    int otherSt = c.source < 8 ? c.regs.intSt1 : c.regs.intSt0;
    if (otherSt != kNone) {
      EXPECT_EQ(In(otherSt), 0);
    }
    EXPECT_EQ(c.source < 8 ? board->IntSt0() : board->IntSt1(), bits.bit);
    EXPECT_TRUE(board->InterruptAsserted());
  }
}

TEST_F(SimBoardTest, EdgesOnDisabledSourcesSetNothing) {
  for (const Regs &regs : kLayouts) {
    SCOPED_TRACE(regs.name);
    auto board = MakeBoard(regs.layout);
    // Every source but 1 enabled; source 1 fires.
    for (int source = 0; source < regs.sources; ++source)
      if (source != 1) Enable(regs, source);
    board->PulseDiLine(1);
    EXPECT_EQ(In(regs.intSt0), 0);
    EXPECT_FALSE(board->InterruptAsserted());
    // Enabling it afterwards does not bring back the edge that was missed.
    Enable(regs, 1);
    EXPECT_EQ(In(regs.intSt0), 0);
    EXPECT_FALSE(board->InterruptAsserted());
  }
}

TEST_F(SimBoardTest, OnlyARisingEdgeLatches) {
  for (const Regs &regs : kLayouts) {
    SCOPED_TRACE(regs.name);
    auto board = MakeBoard(regs.layout);
    Enable(regs, 2);
    board->SetDiLine(2, true);
    EXPECT_EQ(In(regs.intSt0), 0x04);
    Out(regs.intSt0, 0x04);
    board->SetDiLine(2, true);  // still high: no new edge
    EXPECT_EQ(In(regs.intSt0), 0);
    board->SetDiLine(2, false);  // falling edge
    EXPECT_EQ(In(regs.intSt0), 0);
    board->SetDiLine(2, true);
    EXPECT_EQ(In(regs.intSt0), 0x04);
  }
}

TEST_F(SimBoardTest, WritingStatusBackClearsTheBitsWrittenAsOne) {
  struct Case {
    const Regs &regs;
    int sourceA, sourceB;  // two sources of the same status register
    int intSt;
    uint8_t both, ackA, left;
  };
  const Case cases[] = {
      {kLayouts[0], 0, 5, 7, 0x21, 0x01, 0x20},
      {kLayouts[1], 1, 6, 8, 0x42, 0x02, 0x40},
      {kLayouts[2], 0, 3, 7, 0x09, 0x01, 0x08},
      {kLayouts[2], 9, 15, 15, 0x82, 0x02, 0x80},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.regs.name) + " offset " + std::to_string(c.intSt));
    auto board = MakeBoard(c.regs.layout);
    Enable(c.regs, c.sourceA);
    Enable(c.regs, c.sourceB);
    board->PulseDiLine(c.sourceA);
    board->PulseDiLine(c.sourceB);
    ASSERT_EQ(In(c.intSt), c.both);
    Out(c.intSt, c.ackA);
    EXPECT_EQ(In(c.intSt), c.left);
    EXPECT_TRUE(board->InterruptAsserted());
    Out(c.intSt, c.left);
    EXPECT_EQ(In(c.intSt), 0);
    EXPECT_FALSE(board->InterruptAsserted());
  }
}

TEST_F(SimBoardTest, Layout22NinthSourceIsAcknowledgedInItsOwnRegister) {
  auto board = MakeBoard(L22);
  const Regs &regs = kLayouts[1];
  Enable(regs, 0);
  Enable(regs, 8);
  board->PulseDiLine(0);
  board->PulseDiLine(8);
  EXPECT_EQ(In(8), 0x01);
  EXPECT_EQ(In(9), 0x01);
  Out(9, 0x01);
  EXPECT_EQ(In(9), 0x00);
  EXPECT_EQ(In(8), 0x01);
  EXPECT_TRUE(board->InterruptAsserted());
}

TEST_F(SimBoardTest, AZeroWriteClearsStatusOnlyOnTheGeneralLayout) {
  struct Case {
    const Regs &regs;
    uint8_t st0After;
  };
  const Case cases[] = {{kLayouts[0], 0x00}, {kLayouts[1], 0x11}, {kLayouts[2], 0x11}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.regs.name);
    auto board = MakeBoard(c.regs.layout);
    Enable(c.regs, 0);
    Enable(c.regs, 4);
    board->PulseDiLine(0);
    board->PulseDiLine(4);
    if (c.regs.intSt1 != kNone) {
      Enable(c.regs, 8);
      board->PulseDiLine(8);
    }
    Out(c.regs.intSt0, 0);
    EXPECT_EQ(In(c.regs.intSt0), c.st0After);
    EXPECT_EQ(board->InterruptAsserted(), c.st0After != 0);
    if (c.regs.intSt1 != kNone) {
      Out(c.regs.intSt1, 0);
      EXPECT_EQ(In(c.regs.intSt1), 0x01);
    }
  }
}

TEST_F(SimBoardTest, InterruptSummaryFollowsBothStatusRegisters) {
  auto board = MakeBoard(L24);
  const Regs &regs = kLayouts[2];
  const uint16_t sum = kInfo + 24;
  EXPECT_EQ(__inbyte(sum), 0x00);

  struct Case {
    int source;
    int intSt;
    uint8_t bit;
  };
  const Case cases[] = {{3, 7, 0x08}, {9, 15, 0x02}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.source);
    Enable(regs, c.source);
    board->PulseDiLine(c.source);
    EXPECT_EQ(__inbyte(sum), 0x01);
    __outbyte(sum, 0x00);  // ignored
    __outbyte(sum, 0xFF);
    EXPECT_EQ(__inbyte(sum), 0x01);
    EXPECT_EQ(In(c.intSt), c.bit);
    Out(c.intSt, c.bit);
    EXPECT_EQ(__inbyte(sum), 0x00);
  }
  // A forced summary value reaches the ISR without touching the status.
  board->OverrideIntSum(0x02);
  EXPECT_EQ(__inbyte(sum), 0x02);
  EXPECT_EQ(In(regs.intSt0), 0x00);
  board->ClearIntSumOverride();
  EXPECT_EQ(__inbyte(sum), 0x00);
}

TEST_F(SimBoardTest, InformationBytesAreSetByTheTestAndReadOnlyToTheDriver) {
  auto board = MakeBoard(L24);
  // Sixteen inputs by default: the first byte gives two status bytes to the
  // driver's (byte >> 3) + 1 rule.
  EXPECT_EQ((__inbyte(kInfo) >> 3) + 1, 2);
  const uint32_t offsets[] = {0, 1, 2, 4, 5, 6, 31};
  for (uint32_t offset : offsets) {
    SCOPED_TRACE(offset);
    board->SetInfoByte(offset, uint8_t(0xC0 + offset));
    EXPECT_EQ(__inbyte(USHORT(kInfo + offset)), 0xC0 + offset);
    __outbyte(USHORT(kInfo + offset), 0x00);
    EXPECT_EQ(__inbyte(USHORT(kInfo + offset)), 0xC0 + offset);
  }
  EXPECT_THROW(board->SetInfoByte(24, 1), std::out_of_range);
  EXPECT_THROW(board->SetInfoByte(32, 1), std::out_of_range);
  auto general = std::make_unique<SimBoard>(General, 0x500);
  EXPECT_THROW(general->SetInfoByte(0, 1), std::logic_error);
}

TEST_F(SimBoardTest, OtherPortsOfEveryRangeAreByteLatches) {
  struct Case {
    Layout layout;
    uint16_t port;
    bool boards;  // false: just outside the board's ranges
  };
  const Case cases[] = {
      {General, kBase + 0, true},  {General, kBase + 31, true}, {General, kBase + 32, false},
      {L22, kBase + 1, true},      {L22, kBase + 31, true},     {L22, kBase - 1, false},
      {L24, kBase + 0, true},      {L24, kBase + 127, true},    {L24, kBase + 128, false},
      {L24, kInfo + 3, true},      {L24, kInfo + 30, true},     {L24, kInfo + 32, false},
      {L24, kThird + 0, true},     {L24, kThird + 15, true},    {L24, kThird + 16, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << "port 0x" << std::hex << c.port);
    auto board = MakeBoard(c.layout);
    EXPECT_EQ(__inbyte(c.port), c.boards ? 0x00 : 0xFF);
    __outbyte(c.port, 0x6B);
    EXPECT_EQ(__inbyte(c.port), c.boards ? 0x6B : 0xFF);
    EXPECT_FALSE(board->InterruptAsserted());
  }
}

TEST_F(SimBoardTest, WideAccessesAreComposedFromConsecutiveRegisters) {
  auto board = MakeBoard(L24);
  const Regs &regs = kLayouts[2];
  __outword(kBase + 1, 0x045A);  // DO at +1, INTEN0 at +2
  EXPECT_EQ(board->Do(), 0x5A);
  EXPECT_EQ(board->IntEn0(), 0x04);
  board->PulseDiLine(2);
  // +4 .. +7: two latches, a latch and INTST0.
  Out(4, 0x11);
  Out(5, 0x22);
  Out(6, 0x33);
  EXPECT_EQ(__indword(kBase + 4), 0x04332211u);
  // A double word that writes the status byte back acknowledges it.
  __outdword(kBase + 4, 0x04000000);
  EXPECT_EQ(In(regs.intSt0), 0);
  EXPECT_EQ(In(4), 0x00);
  EXPECT_FALSE(board->InterruptAsserted());
}

TEST_F(SimBoardTest, LineIsAssertedWhilePendingAndReportedOnEachAssertion) {
  for (const Regs &regs : kLayouts) {
    SCOPED_TRACE(regs.name);
    auto board = MakeBoard(regs.layout);
    int assertions = 0;
    board->SetInterruptListener([&assertions] { ++assertions; });
    Enable(regs, 0);
    Enable(regs, 3);

    board->PulseDiLine(0);
    EXPECT_TRUE(board->InterruptAsserted());
    EXPECT_EQ(assertions, 1);
    board->PulseDiLine(3);  // already asserted: no new report
    EXPECT_EQ(assertions, 1);

    Out(regs.intSt0, 0x09);
    EXPECT_FALSE(board->InterruptAsserted());
    board->PulseDiLine(3);
    EXPECT_EQ(assertions, 2);

    // Masking a pending source drops the line; unmasking raises it again.
    Out(regs.intEn0, 0x00);
    EXPECT_FALSE(board->InterruptAsserted());
    EXPECT_EQ(In(regs.intSt0), 0x08);
    Out(regs.intEn0, 0x08);
    EXPECT_TRUE(board->InterruptAsserted());
    EXPECT_EQ(assertions, 3);
  }
}

TEST_F(SimBoardTest, ListenerMayServiceTheBoardThroughItsPorts) {
  for (const Regs &regs : kLayouts) {
    SCOPED_TRACE(regs.name);
    auto board = MakeBoard(regs.layout);
    uint8_t seen = 0;
    board->SetInterruptListener([&seen, &regs] {
      seen = In(regs.intSt0);
      Out(regs.intSt0, seen);
    });
    Enable(regs, 6);
    board->PulseDiLine(6);
    EXPECT_EQ(seen, 0x40);
    EXPECT_EQ(In(regs.intSt0), 0);
    EXPECT_FALSE(board->InterruptAsserted());
  }
}

TEST_F(SimBoardTest, RegistersWrapAtTheTopOfThePortSpace) {
  // Layout 22 at 0xFFF8: INTEN0 at 0xFFFC, INTST0 at 0x0000, INTST1 at 0x0001.
  SimBoard board(L22, 0xFFF8);
  board.Attach();
  __outbyte(0xFFFC, 0x01);
  board.PulseDiLine(0);
  EXPECT_EQ(__inbyte(0x0000), 0x01);
  EXPECT_EQ(__inword(0xFFFF), 0x0100);  // the latch at +7 and INTST0
  __outbyte(0x0000, 0x01);
  EXPECT_FALSE(board.InterruptAsserted());
}

TEST_F(SimBoardTest, DetachAndDestructionReleaseThePorts) {
  {
    auto board = MakeBoard(L24);
    board->Detach();
    EXPECT_EQ(__inbyte(kBase + 1), 0xFF);
    EXPECT_EQ(__inbyte(kInfo + 0), 0xFF);
    board->Attach();
    board->Attach();  // already attached: no second claim
    EXPECT_EQ(__inbyte(kInfo + 0), 0x0F);
  }
  EXPECT_EQ(__inbyte(kBase + 1), 0xFF);
  // The ports are free for another board.
  SimBoard next(General, kBase);
  next.Attach();
  next.SetDo(0x77);
  EXPECT_EQ(__inbyte(kBase + 1), 0x77);
}

TEST(SimBoardArgumentsTest, MisuseIsRefused) {
  EXPECT_THROW({ SimBoard b(L24, kBase); }, std::invalid_argument);
  EXPECT_THROW({ SimBoard b(General, kInfo, kBase, kThird); }, std::invalid_argument);
  // No room for INTST1, or for AUX80.
  EXPECT_THROW({ SimBoard b(L22, kBase, 9); }, std::invalid_argument);
  EXPECT_THROW({ SimBoard b(L24, kInfo, kBase, kThird, 32, 80); }, std::invalid_argument);
  SimBoard board(L22, kBase);
  EXPECT_THROW(board.SetDiLine(9, true), std::out_of_range);
  EXPECT_THROW(board.SetDiLine(-1, true), std::out_of_range);
  SimBoard general(General, kBase);
  EXPECT_THROW(general.SetDiLine(8, true), std::out_of_range);
}

}  // namespace
