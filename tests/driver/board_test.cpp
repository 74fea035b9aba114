// Board models, and register ports at the end of the port space. The DO bit
// and the interrupt reset of each layout are seen through the start-up and
// the shutdown (startup_test.cpp, shutdown_test.cpp).
#include "driver_fixture.h"

namespace diotest {
namespace {

using BoardTest = testing::Test;

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

// A register's port is the low 32 bits of the base plus the offset, cut to
// the 16-bit port space.
TEST_F(BoardTest, RegisterPortsWrapWithinThePortSpace) {
  gDeviceType = 0;
  hostboard::SimBoard board(hostboard::General, 0xFFFE);
  board.Attach();
  DEVICE_EXTENSION extension = {};
  extension.BaseAddress = 0x1'0000'FFFEull;
  hostk::ClearPortTrace();
  SetDoBit(&extension, 0, 1);
  ResetInterruptRegisters(&extension, FALSE);
  EXPECT_EQ(Trace(), Describe({{false, 1, 0xFFFF, 0x00}, {true, 1, 0xFFFF, 0x01}, {true, 1, 0x0005, 0},
                               {true, 1, 0x0000, 0}}));
}

}  // namespace
}  // namespace diotest
