// Board models, and register ports at the end of the port space. The DO bit
// and the interrupt reset of each layout are seen through the start-up and
// the shutdown (startup_test.cpp, shutdown_test.cpp).
#include "event_program.h"

namespace diotest {
namespace {

using BoardTest = testing::Test;
using BoardModelTest = DriverTest;

// Codes above 20 are PCI boards, compared unsigned: their interrupt is
// connected level-sensitive and shared, the others' latched and exclusive.
TEST_F(BoardModelTest, TheModelCodeSelectsTheInterruptKind) {
  for (uint32_t model : {0u, 20u, 21u, 24u, 0x80000000u}) {
    SCOPED_TRACE(model);
    FreshRow();
    StartedDevice(model);
    Program program;
    HANDLE file = program.Open();
    std::vector<HANDLE> events = MakeEvents(1);
    ASSERT_EQ(EnableEvents(file, events).status, STATUS_SUCCESS);
    std::vector<hostk::InterruptInfo> connected = hostk::ConnectedInterrupts();
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected[0].mode, model > 20 ? LevelSensitive : Latched);
    EXPECT_EQ(connected[0].shared, model > 20);
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
