// dioctl against the driver on a simulated board of each register layout:
// every command, its output, and every refusal with its exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "driver_fixture.h"
#include "host_win32_io.h"
#include "program.h"
#include "user_mode.h"

namespace {

using tooltest::Result;
using tooltest::Dioctl;
using tooltest::Running;

constexpr unsigned long kGenericRead = 0x80000000, kGenericWrite = 0x40000000;

struct Layout {
  uint32_t portCount;  // the register block's length on the bench
  uint32_t doOffset;
  uint32_t intEn0;
  std::vector<int> sources;  // DI lines behind events that exist, fired by the watch tests
};

Layout LayoutOf(uint32_t model) {
  switch (model) {
    case 24: return {128, 1, 2, {0, 3, 8}};
    case 22: return {32, 0, 4, {0, 3, 8}};
    default: return {32, 1, 2, {0, 3}};
  }
}

bool HasAccess(bool write, int width, uint16_t port, uint32_t value) {
  for (const auto &a : hostk::PortTrace())
    if (a.write == write && a.width == width && a.port == port && a.value == value) return true;
  return false;
}

// A refusal: exit code `exit`, one line "dioctl: ..." holding `says` on the
// error output, nothing on the output and no handle left open.
void ExpectRefused(const std::string &commandLine, int exit, const std::string &says) {
  Result r = Dioctl(commandLine);
  EXPECT_EQ(std::make_tuple(r.exit, r.err.rfind("dioctl: ", 0), r.err.find(says) != std::string::npos,
                            std::count(r.err.begin(), r.err.end(), '\n'), r.out, r.handlesLeft),
            std::make_tuple(exit, size_t(0), true, 1L, std::string(), size_t(0)))
      << commandLine << ": " << r.err;
}

// A command that must succeed, and keep nothing open: what it wrote.
std::string Done(const std::string &commandLine) {
  Result r = Dioctl(commandLine);
  EXPECT_EQ(std::tie(r.exit, r.err, r.handlesLeft), std::make_tuple(0, std::string(), size_t(0)))
      << commandLine << ": " << r.err;
  return r.out;
}

class DioctlTest : public diotest::DriverTest, public testing::WithParamInterface<uint32_t> {
 protected:
  // A started board of the model; a layout-24 board says it has 16 DI
  // channels, so that the driver scans both status bytes (event 8).
  void SetUp() override {
    model_ = GetParam();
    layout_ = LayoutOf(model_);
    device_ = StartedDevice(model_, [this](hostboard::SimBoard &board) {
      const std::pair<uint32_t, uint8_t> info[] = {{0, 16}, {1, 16}, {2, 8}, {4, 4}, {5, 0x55}, {6, 0x66}, {31, 0x23}};
      for (const auto &byte : info)
        if (model_ == 24) board.SetInfoByte(byte.first, byte.second);
    });
    ASSERT_NE(device_, nullptr);
  }

  uint16_t Port(uint32_t offset) const { return uint16_t(diotest::kRegisterBase + offset); }

  uint32_t model_ = 0;
  Layout layout_;
  PDEVICE_OBJECT device_ = nullptr;
};

TEST_P(DioctlTest, ListShowsTheInterfaceTheDeviceMapAndTheBoardRecord) {
  const std::string link = "PCI#VEN_1D5A&DEV_2400&SUBSYS_00000000&REV_01#4&1A2B3C4D&0&0018#"
                           "{6b049747-8679-4542-b232-eccd4d2c6519}";
  const char *layout = model_ == 24 ? " (layout 24, PCI board)" : model_ == 22 ? " (layout 22, PCI board)"
                       : model_ > 20 ? " (general layout, PCI board)" : " (general layout, ISA-style board)";
  EXPECT_EQ(Done("list"), "devices of the TesZEPDIO interface:\n  \\\\?\\" + link +
                              "\ndevice map (Services\\ZEPDIO\\MapEntry, \"0\"):\n  \\\\.\\" + link +
                              "\nboard (Services\\TESZEPDIOS\\Device000): model " + std::to_string(model_) + layout +
                              ", port base 0xE000, interrupt 11" + (model_ > 20 ? ", PCI bus 0, slot 3" : "") + "\n");
}

TEST_P(DioctlTest, InfoNamesTheBoardInformationBytes) {
  std::string out = Done("info");
  if (model_ == 24) {
    EXPECT_EQ(out.substr(out.find("\n") + 1),
              "  byte 0  DI channels            info +0   16\n  byte 1  DI interrupt channels  info +1   16\n"
              "  byte 2  DO channels            info +2   8\n  byte 3  (not named)            info +6   0x66\n"
              "  byte 4  program LEDs           info +4   4\n  byte 5  (not named)            info +5   0x55\n"
              "  byte 6  FPGA version           info +31  0x23\n  byte 7  (always 1)             driver    1\n");
  } else {
    EXPECT_EQ(out.substr(out.find("  byte 7")), "  byte 7  (always 1)             driver    0\n"
                                                "all zero: only layout-24 boards (model 24) hold board information\n");
  }
}

// Each width reaches the board as one access of that width at the base plus
// the offset, and reads back what was written.
TEST_P(DioctlTest, ReadAndWriteEachWidth) {
  const std::tuple<uint32_t, int, uint32_t> cases[] = {{3, 1, 0x5A}, {12, 2, 0xBEEF}, {16, 4, 0x12345678}};
  for (const auto &[at, size, written] : cases) {
    char offset[16], value[16], port[16];
    snprintf(offset, sizeof offset, "0x%X", at);
    snprintf(value, sizeof value, "0x%0*X", 2 * size, written);
    snprintf(port, sizeof port, "0x%04X", Port(at));
    std::string width = " --width " + std::to_string(size);
    std::string where = "offset " + std::string(offset) + " (port " + port + ")";
    EXPECT_EQ(Done(std::string("write ") + offset + " " + value + width), where + ": wrote " + value + "\n");
    EXPECT_TRUE(HasAccess(true, size, Port(at), written));
    EXPECT_EQ(Done(std::string("read ") + std::to_string(at) + width),
              where + ": " + value + " (" + std::to_string(written) + ")\n");
    EXPECT_TRUE(HasAccess(false, size, Port(at), written));
  }
  Done("write " + std::to_string(layout_.doOffset) + " 0x81");
  EXPECT_EQ(board_->Do(), 0x81);
}

TEST_P(DioctlTest, ConfigureDoReplacesTheStartAndShutdownOutputs) {
  board_->SetDo(0xFF);
  std::string out = Done("do-config --start 1,1 --shutdown 2,0");
  EXPECT_EQ(out.rfind("DO configuration replaced: at the board's start DO channel 1 to 1, at the system's "
                      "shutdown DO channel 2 to 0\n", 0), 0u) << out;
  PDEVICE_EXTENSION x = Extension(device_);
  EXPECT_EQ(diotest::DoFields(x), std::vector<ULONG>({1, 1, 1, 2, 1, 0}));
  hostk::ShutdownSystem();
  EXPECT_EQ(board_->Do(), 0xFB);  // channel 2 cleared at shutdown

  Done("do-config --start off --shutdown off");
  EXPECT_EQ(x->DoConfig.TriggerStart, 0u);
  EXPECT_EQ(hostk::ShutdownRegistrations().size(), 1u) << "registered for \"OnSystem\" all the same";
}

// The driver refuses an access that does not lie wholly inside the register
// block, whose length is n; the refusal comes back with its status named.
TEST_P(DioctlTest, TheDriversRefusalsGetOneLineAndExitCode1) {
  const uint32_t n = layout_.portCount;
  char where[48];
  snprintf(where, sizeof where, "offset 0x%X (port 0x%04X)", n, Port(n));
  ExpectRefused("read " + std::to_string(n), 1,
                std::string("read at ") + where + " refused: STATUS_ACCESS_VIOLATION (0xC0000005): the access "
                "does not lie wholly inside the board's register block");
  ExpectRefused("write " + std::to_string(n - 2) + " 0 --width 4", 1, "refused: STATUS_ACCESS_VIOLATION");
}

// watch hands the driver an event per number, switches the sources behind
// them on, prints each DI event and, at Ctrl+C, puts the sources back as it
// found them (another program keeps the device open, so the driver's last
// cleanup does not), disables and closes.
TEST_P(DioctlTest, WatchPrintsEachDiEventUntilCtrlC) {
  hostk::user::Process other("other.exe");
  HANDLE otherHandle = nullptr;
  {
    hostk::user::ProcessScope scope(other);
    ASSERT_EQ(hostk::user::OpenFile(diotest::DevicePath(), GENERIC_READ, &otherHandle), STATUS_SUCCESS);
  }
  board_->Write(Port(layout_.intEn0), 1, 0x80);  // a source someone else switched on

  Running watch("watch");
  ASSERT_TRUE(watch.WaitFor("; Ctrl+C ends\n"));
  EXPECT_EQ(board_->IntEn0(), model_ == 22 || model_ == 24 ? 0xFF : 0x8F);
  EXPECT_EQ(board_->IntEn1(), model_ == 22 || model_ == 24 ? 0x01 : 0x00);
  for (int source : layout_.sources) {
    board_->PulseDiLine(source);
    EXPECT_TRUE(watch.WaitFor(" s  event " + std::to_string(source) + "\n")) << "DI line " << source;
  }
  EXPECT_TRUE(hostwin::PressCtrlC());
  Result r = watch.Finish();
  EXPECT_EQ(std::tie(r.exit, r.handlesLeft), std::make_tuple(0, size_t(0))) << r.err;
  std::string events = model_ == 22 || model_ == 24 ? "0, 1, 2, 3, 4, 5, 6, 7, 8" : "0, 1, 2, 3";
  EXPECT_EQ(r.out.rfind("watching events " + events + " of \\\\?\\PCI#", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("stopped (Ctrl+C) after "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(": " + std::to_string(layout_.sources.size()) + " events\n"), std::string::npos) << r.out;
  EXPECT_EQ(std::make_tuple(board_->IntEn0(), board_->IntEn1()), std::make_tuple(0x80, 0x00)) << "as it found them";
  EXPECT_FALSE(hostk::ConnectedInterrupts().empty());  // the other handle is still open

  hostk::user::ProcessScope scope(other);
  EXPECT_EQ(hostk::user::CloseHandle(otherHandle), STATUS_SUCCESS);
  EXPECT_TRUE(hostk::ConnectedInterrupts().empty());
}

TEST_P(DioctlTest, WatchTakesOnlyTheEventsListedAndEndsWhenTheTimeIsUp) {
  Running watch("watch --events 3,3-3 --for 60");
  ASSERT_TRUE(watch.WaitFor("watching events 3 of "));
  ASSERT_TRUE(watch.WaitFor(" for 60.000 s; Ctrl+C ends\n"));
  EXPECT_EQ(board_->IntEn0(), 0x08);
  board_->PulseDiLine(0);  // its source stays off
  board_->PulseDiLine(3);
  EXPECT_TRUE(watch.WaitFor(" s  event 3\n"));
  EXPECT_TRUE(hostwin::PressCtrlC());
  Result r = watch.Finish();
  EXPECT_EQ(r.out.find("event 0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(": 1 event\n"), std::string::npos) << r.out;
  EXPECT_TRUE(hostk::ConnectedInterrupts().empty());  // its close was the last

  const std::string out = Done("watch --for 0.2");
  size_t after = out.find("stopped (time is up) after ");
  ASSERT_NE(after, std::string::npos) << out;
  EXPECT_GE(atof(out.c_str() + after + 27), 0.2) << out;
  EXPECT_NE(out.find(": 0 events\n"), std::string::npos) << out;
  EXPECT_EQ(board_->IntEn0(), 0x00);
}

INSTANTIATE_TEST_SUITE_P(EachLayout, DioctlTest, testing::Values(24u, 22u, 21u, 0u),
                         [](const testing::TestParamInfo<uint32_t> &info) {
                           return "Model" + std::to_string(info.param);
                         });

// What the tool meets when the board is not there to be used.
class DioctlWithoutBoardTest : public diotest::DriverTest {};

TEST_F(DioctlWithoutBoardTest, NoDriverNoDevice) {
  for (const char *commandLine : {"list", "info", "read 0", "do-config --start off --shutdown off"})
    ExpectRefused(commandLine, 1, "dioctl: no device: the driver publishes none");
  ExpectRefused("watch", 1, "no board record (Services\\TESZEPDIOS\\Device000): is the board installed and started?");
}

TEST_F(DioctlWithoutBoardTest, ARemovedBoardLeavesItsDeviceMapPathBehind) {
  StartedDevice(22);
  Pnp(IRP_MN_REMOVE_DEVICE);
  ExpectRefused("info", 1, "dioctl: no device at \\\\.\\PCI#");
  Result r = Dioctl("list");
  EXPECT_EQ(std::tie(r.exit, r.err), std::make_tuple(1, std::string("dioctl: no device is present\n")));
  EXPECT_NE(r.out.find("devices of the TesZEPDIO interface: none present\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  (no present device: the board was removed)\n"), std::string::npos) << r.out;
}

// A device whose security lets the user read only.
TEST_F(DioctlWithoutBoardTest, AccessDeniedToWhatTheUserMayNotDo) {
  StartedDevice(24);
  hostwin::DenyDeviceAccess(kGenericWrite);
  for (const char *commandLine : {"write 3 1", "watch", "do-config --start off --shutdown off"})
    ExpectRefused(commandLine, 1, "dioctl: access denied to \\\\?\\PCI#");
  Done("read 3");
  hostwin::DenyDeviceAccess(kGenericRead);
  EXPECT_EQ(Dioctl("read 3").exit, 1);
}

// A board in D3 keeps its device, and the driver refuses port access and
// events until it has power again.
TEST_F(DioctlWithoutBoardTest, ABoardWithoutPowerRefusesPortsAndEvents) {
  StartedDevice(24);
  hostk::SendSetPower(Pdo(), DevicePowerState, hostk::DeviceState(PowerDeviceD3));
  ExpectRefused("read 1", 1, "dioctl: read at offset 0x1 (port 0xE001) refused: STATUS_DEVICE_NOT_READY "
                "(0xC00000A3): the board has no power now (the system is going to sleep or waking, or the "
                "device is in D3)\n");
  ExpectRefused("watch", 1, "refused: STATUS_DEVICE_NOT_READY (0xC00000A3)");
  Done("info");  // board information needs no powered board
  hostk::SendSetPower(Pdo(), DevicePowerState, hostk::DeviceState(PowerDeviceD0));
  hostk::DrainPowerWork();
  Done("read 1");
}

// The tool's own checks of a command line: one line on the error output,
// exit code 2, and nothing sent (the device is never opened).
TEST_F(DioctlWithoutBoardTest, AWrongCommandLineGetsOneLineAndExitCode2) {
  StartedDevice(0);
  const std::pair<const char *, const char *> cases[] = {  // a command line, what its refusal says
      {"read 0x100000000", "OFFSET \"0x100000000\" is not a number from 0 to 0xFFFFFFFF"},
      {"write 0 0x100", "VALUE 0x100 does not fit in 1 byte (at most 0xFF); see \"dioctl write --help\""},
      {"write 0 65536 --width 2", "VALUE 65536 does not fit in 2 bytes (at most 0xFFFF)"},
      {"write 0 0x1FFFFFFFF --width 4", "is not a number from 0 to 0xFFFFFFFF"},
      {"read 0 --width 3", "--width is 1, 2 or 4, not \"3\""},
      {"read 1O", "OFFSET \"1O\" is not a number"},
      {"read", "read takes one OFFSET"},
      {"write 1", "write takes OFFSET and VALUE"},
      {"info 1", "info takes no arguments"},
      {"info --width 2", "--width is not an option of this command"},
      {"frobnicate", "unknown command \"frobnicate\"; see \"dioctl --help\""},
      {"", "no command given"},
      {"read 0 --verbose", "unknown option --verbose"},
      {"do-config --start 8,1 --shutdown off", "--start takes CH,LEVEL (channel 0 to 7, level 0 or 1) or off"},
      {"do-config --start 1,2 --shutdown off", "--start takes CH,LEVEL"},
      {"do-config --start 1,1", "do-config needs both --start and --shutdown"},
      {"watch --events 9", "--events takes event numbers 0 to 8"},
      {"watch --events 3-1", "--events takes event numbers"},
      {"watch --for 0", "--for takes seconds above 0"},
      {"watch --for 1.0005", "--for takes seconds above 0 with at most three decimals"},
      {"watch --events 5", "event 5 does not exist on model"},
      {"list --device x", "--device is not for it"},
      {"--device", "--device needs a value"},
  };
  for (const auto &[commandLine, says] : cases) {
    hostk::ClearPortTrace();
    ExpectRefused(commandLine, 2, says);
    // The last close of a handle would have turned the board's interrupts
    // off through its ports.
    EXPECT_TRUE(hostk::PortTrace().empty()) << commandLine;
  }
}

// Every command has its help, on the output, with the usage of that command.
TEST(DioctlHelpTest, EveryCommandHasItsHelp) {
  const std::string overview = Done("--help");
  for (const char *command : {"list", "info", "read", "write", "watch", "do-config"}) {
    EXPECT_NE(overview.find(command), std::string::npos) << "the overview names " << command;
    for (std::string commandLine : {std::string(command) + " --help", "help " + std::string(command)}) {
      const std::string out = Done(commandLine);
      EXPECT_EQ(out.find("usage: dioctl"), 0u) << commandLine << ":\n" << out;
      EXPECT_NE(out.substr(0, out.find('\n')).find(command), std::string::npos) << commandLine << ":\n" << out;
    }
  }
}

}  // namespace
