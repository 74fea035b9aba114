// Board models, the DO bit and the interrupt reset, seen on the port trace of
// a simulated board.
#include <cstring>
#include <memory>

#include "driver_fixture.h"
#include "sim_board.h"

namespace diotest {
namespace {

struct Access {
  bool write;
  uint16_t port;
  uint32_t value;
  bool operator==(const Access &o) const {
    return write == o.write && port == o.port && value == o.value;
  }
};

std::ostream &operator<<(std::ostream &out, const Access &a) {
  return out << (a.write ? "out " : "in ") << std::hex << a.port << " " << a.value;
}

// Byte accesses of the trace; any wider access fails the test.
std::vector<Access> ByteTrace() {
  std::vector<Access> out;
  for (const auto &access : hostk::PortTrace()) {
    EXPECT_EQ(access.width, 1) << hostk::Describe(access);
    out.push_back(Access{access.write, access.port, access.value});
  }
  return out;
}

Access In(uint16_t port, uint32_t value) { return Access{false, port, value}; }
Access Out(uint16_t port, uint32_t value) { return Access{true, port, value}; }

class BoardTest : public testing::Test {
 protected:
  // A board of the model's layout with its register block at `base`.
  void Use(uint32_t model, uint16_t base = 0xE000) {
    gDeviceType = model;
    memset(&extension_, 0, sizeof extension_);
    extension_.BaseAddress = base;
    if (hostboard::LayoutFor(model) == hostboard::L24) {
      extension_.InfoBase = 0xD000;
      board_ = std::make_unique<hostboard::SimBoard>(hostboard::L24, 0xD000, base, 0xC000);
    } else {
      board_ = std::make_unique<hostboard::SimBoard>(hostboard::LayoutFor(model), base);
    }
    board_->Attach();
    hostk::ClearPortTrace();
  }
  void TearDown() override { board_.reset(); }

  DEVICE_EXTENSION extension_;
  std::unique_ptr<hostboard::SimBoard> board_;
};

TEST_F(BoardTest, TheModelCodeSelectsLayoutAndInterruptKind) {
  struct Case {
    uint32_t model;
    BOARD_LAYOUT layout;
    KINTERRUPT_MODE mode;
    BOOLEAN shared;
  };
  const Case cases[] = {
      {0, BoardLayoutGeneral, Latched, FALSE},
      {20, BoardLayoutGeneral, Latched, FALSE},
      {21, BoardLayoutGeneral, LevelSensitive, TRUE},
      {22, BoardLayout22, LevelSensitive, TRUE},
      {23, BoardLayoutGeneral, LevelSensitive, TRUE},
      {24, BoardLayout24, LevelSensitive, TRUE},
      {25, BoardLayoutGeneral, LevelSensitive, TRUE},
      {0x80000000, BoardLayoutGeneral, LevelSensitive, TRUE},  // unsigned comparison
  };
  for (const Case &c : cases) {
    gDeviceType = c.model;
    EXPECT_EQ(BoardLayout(), c.layout) << c.model;
    EXPECT_EQ(BoardInterruptMode(), c.mode) << c.model;
    EXPECT_EQ(BoardInterruptShared(), c.shared) << c.model;
    EXPECT_EQ(IsPciBoard(), c.shared) << c.model;
  }
}

TEST_F(BoardTest, SetDoBitChangesOnlyItsBitOfTheDoRegister) {
  struct Case {
    uint32_t model;
    uint16_t doPort;
    ULONG channel;
    ULONG level;
    uint8_t before;
    uint8_t after;
  };
  const Case cases[] = {
      {24, 0xE001, 7, 1, 0x01, 0x81},
      {24, 0xE001, 0, 0, 0xFF, 0xFE},
      {24, 0xE001, 3, 5, 0x00, 0x08},   // any non-zero level sets
      {24, 0xE001, 8, 1, 0x5A, 0x5A},   // past bit 7: written back as read
      {24, 0xE001, 31, 0, 0x5A, 0x5A},
      {24, 0xE001, 33, 1, 0x00, 0x02},  // the shift count is taken modulo 32
      {22, 0xE000, 2, 1, 0x00, 0x04},
      {0, 0xE001, 6, 0, 0xC0, 0x80},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("model " + std::to_string(c.model) + " channel " + std::to_string(c.channel));
    Use(c.model);
    board_->SetDo(c.before);
    SetDoBit(&extension_, c.channel, c.level);
    EXPECT_EQ(board_->Do(), c.after);
    EXPECT_EQ(ByteTrace(), (std::vector<Access>{In(c.doPort, c.before), Out(c.doPort, c.after)}));
  }
}

TEST_F(BoardTest, RegisterPortsWrapWithinThePortSpace) {
  Use(0, 0xFFFE);
  SetDoBit(&extension_, 0, 1);
  ASSERT_EQ(hostk::PortTrace().size(), 2u);
  EXPECT_EQ(hostk::PortTrace()[0].port, 0xFFFF);
  hostk::ClearPortTrace();
  extension_.BaseAddress = 0x1'0000'FFFEull;  // only the low 32 bits count
  ResetInterruptRegisters(&extension_, FALSE);
  EXPECT_EQ(ByteTrace(), (std::vector<Access>{Out(0x0005, 0), Out(0x0000, 0)}));
}

TEST_F(BoardTest, EachLayoutResetsItsInterruptRegistersInOrder) {
  // Layout 22 acknowledges what is pending by writing back what it reads.
  Use(22);
  ResetInterruptRegisters(&extension_, TRUE);
  EXPECT_EQ(ByteTrace(), (std::vector<Access>{Out(0xE004, 0), Out(0xE005, 0), In(0xE008, 0),
                                              Out(0xE008, 0), In(0xE009, 0), Out(0xE009, 0)}));

  Use(0);
  ResetInterruptRegisters(&extension_, TRUE);
  EXPECT_EQ(ByteTrace(), (std::vector<Access>{Out(0xE007, 0), Out(0xE002, 0)}));

  Use(24);
  ResetInterruptRegisters(&extension_, FALSE);
  const std::vector<Access> atStart = {Out(0xE007, 0), Out(0xE002, 0), Out(0xE00A, 0),
                                       Out(0xE00F, 0)};
  EXPECT_EQ(ByteTrace(), atStart);
  hostk::ClearPortTrace();
  ResetInterruptRegisters(&extension_, TRUE);
  std::vector<Access> atDisable = atStart;
  atDisable.push_back(Out(0xE000 + 70, 0));
  atDisable.push_back(Out(0xE000 + 80, 0));
  EXPECT_EQ(ByteTrace(), atDisable);
}

TEST_F(BoardTest, Layout22ResetAcknowledgesPendingStatusAndTurnsSourcesOff) {
  Use(22);
  // Enable sources 1 and 8 through the board's registers, then fire them.
  WriteRegister(extension_.BaseAddress, 4, 0x02);
  WriteRegister(extension_.BaseAddress, 5, 0x01);
  board_->PulseDiLine(1);
  board_->PulseDiLine(8);
  ASSERT_TRUE(board_->InterruptAsserted());
  hostk::ClearPortTrace();

  ResetInterruptRegisters(&extension_, FALSE);
  EXPECT_EQ(ByteTrace(), (std::vector<Access>{Out(0xE004, 0), Out(0xE005, 0), In(0xE008, 0x02),
                                              Out(0xE008, 0x02), In(0xE009, 0x01),
                                              Out(0xE009, 0x01)}));
  EXPECT_FALSE(board_->InterruptAsserted());
  EXPECT_EQ(board_->IntEn0(), 0);
  EXPECT_EQ(board_->IntSt0(), 0);
  EXPECT_EQ(board_->IntSt1(), 0);
}

}  // namespace
}  // namespace diotest
