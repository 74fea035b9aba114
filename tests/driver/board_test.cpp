// Board models, and register ports at the end of the port space.
#include "event_program.h"

namespace diotest {
namespace {

using BoardTest = testing::Test;
using BoardModelTest = DriverTest;

// Codes above 20 (unsigned) are PCI boards: level-sensitive and shared.
TEST_F(BoardModelTest, TheModelCodeSelectsTheInterruptKind) {
  for (uint32_t model : {0u, 20u, 21u, 24u, 0x80000000u}) {
    const auto row = FreshRow(std::to_string(model));
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

// A register's port is the base's low 32 bits plus the offset, in 16 bits.
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
