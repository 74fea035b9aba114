// Register ports at the end of the port space.
#include "driver_fixture.h"

namespace diotest {
namespace {

using BoardTest = testing::Test;

// A register's port is the base's low 32 bits plus the offset, in 16 bits.
TEST_F(BoardTest, RegisterPortsWrapWithinThePortSpace) {
  gDeviceType = 0;
  hostboard::SimBoard board(hostboard::General, 0xFFFE);
  board.Attach();
  DEVICE_EXTENSION extension = {};
  extension.Range2Start.QuadPart = 0x1'0000'FFFEll;
  hostk::ClearPortTrace();
  SetDoBit(&extension, 0, 1);
  ResetInterruptRegisters(&extension, FALSE);
  EXPECT_EQ(Trace(), Describe({{false, 1, 0xFFFF, 0x00}, {true, 1, 0xFFFF, 0x01}, {true, 1, 0x0005, 0},
                               {true, 1, 0x0000, 0}}));
}

}  // namespace
}  // namespace diotest
