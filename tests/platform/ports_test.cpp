// The simulated port space: routing to the claiming devices, unclaimed ports,
// accesses straddling the end of a claim, wrap at 0xFFFF, the trace and
// overlapping claims.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "host_kernel.h"

namespace {

// A device whose byte at port p holds uint8_t(p + 0x10) until written. It logs
// each call as "<name>:<port>/<width>", and its narrow reads carry stray bits
// above the width, which the port space must mask off.
class Device : public hostk::PortDevice {
 public:
  Device(char name, uint16_t first, uint32_t count, std::string *log)
      : name_(name), log_(log), memory_(0x10000) {
    for (uint32_t port = 0; port < 0x10000; ++port) memory_[port] = uint8_t(port + 0x10);
    hostk::ClaimPorts(first, count, this);
  }
  ~Device() override { hostk::ReleasePorts(this); }

  uint32_t Read(uint16_t port, int width) override {
    Log(port, width);
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value |= uint32_t(memory_[uint16_t(port + i)]) << (8 * i);
    return width == 4 ? value : value | 0xEE000000u;
  }
  void Write(uint16_t port, int width, uint32_t value) override {
    Log(port, width);
    for (int i = 0; i < width; ++i) memory_[uint16_t(port + i)] = uint8_t(value >> (8 * i));
  }

 private:
  void Log(uint16_t port, int width) {
    char text[16];
    snprintf(text, sizeof text, "%s%c:%X/%d", log_->empty() ? "" : " ", name_, port, width);
    *log_ += text;
  }
  char name_;
  std::string *log_;
  std::vector<uint8_t> memory_;
};

uint32_t In(uint16_t port, int width) {
  return width == 1 ? __inbyte(port) : width == 2 ? __inword(port) : __indword(port);
}

void Out(uint16_t port, int width, uint32_t value) {
  if (width == 1) __outbyte(port, UCHAR(value));
  else if (width == 2) __outword(port, USHORT(value));
  else __outdword(port, value);
}

TEST(PortsTest, EachAccessReachesTheOwnersOfItsBytes) {
  // The port and width, what the access reads at first, what the devices see
  // (reading and again writing), what it reads after writing 0x44332211.
  // a owns 0x100..0x103, b 0x104..0x107, w 0xFFFE..0x0001; the rest is unclaimed.
  const std::tuple<uint16_t, int, uint32_t, const char *, uint32_t> cases[] = {
      {0x101, 1, 0x11, "a:101/1", 0x11},
      {0x102, 2, 0x1312, "a:102/2", 0x2211},
      {0x100, 4, 0x13121110, "a:100/4", 0x44332211},
      {0x102, 4, 0x15141312, "a:102/1 a:103/1 b:104/1 b:105/1", 0x44332211},  // two claims
      {0x106, 4, 0xFFFF1716, "b:106/1 b:107/1", 0xFFFF2211},  // runs off the end
      {0x0FF, 2, 0x10FF, "a:100/1", 0x22FF},                  // starts before
      {0x200, 4, 0xFFFFFFFF, "", 0xFFFFFFFF},                 // unclaimed
      {0xFFFF, 2, 0x100F, "w:FFFF/2", 0x2211},                // wraps inside w
      {0xFFFE, 4, 0x11100F0E, "w:FFFE/4", 0x44332211},
      {0xFFFF, 4, 0xFF11100F, "w:FFFF/1 w:0/1 w:1/1", 0xFF332211},  // wraps out of w
  };
  for (const auto &[port, width, read, calls, afterWrite] : cases) {
    SCOPED_TRACE(::testing::Message() << "port 0x" << std::hex << port << " width " << width);
    std::string log;
    Device a('a', 0x100, 4, &log), b('b', 0x104, 4, &log), w('w', 0xFFFE, 4, &log);
    EXPECT_EQ(In(port, width), read);
    EXPECT_EQ(log, calls);
    log.clear();
    Out(port, width, 0x44332211);
    EXPECT_EQ(log, calls);
    EXPECT_EQ(In(port, width), afterWrite);
  }
}

TEST(PortsTest, TraceHoldsOneEntryPerAccessAtItsFullWidth) {
  std::string log;
  {
    Device a('a', 0x100, 4, &log);
    hostk::ClearPortTrace();
    __outbyte(0x101, 0x5A);
    (void)__inword(0x100);
    (void)__indword(0x102);  // split: two bytes of a, two unclaimed
    __outword(0x103, 0xBEEF);
  }
  (void)__inbyte(0x100);  // released: unclaimed again
  const std::vector<std::string> expected = {
      "out byte  0x0101 <- 0x5A",       "in  word  0x0100 -> 0x5A10",
      "in  dword 0x0102 -> 0xFFFF1312", "out word  0x0103 <- 0xBEEF",
      "in  byte  0x0100 -> 0xFF",
  };
  std::vector<std::string> trace;
  for (const auto &access : hostk::PortTrace()) trace.push_back(hostk::Describe(access));
  EXPECT_EQ(trace, expected);
}

// A claim that starts inside another, or before it and runs into it.
TEST(PortsDeathTest, OverlappingClaimsStopTheRun) {
  for (const auto &[first, count] : {std::pair<uint16_t, uint32_t>{0x10F, 1}, {0x0F8, 9}}) {
    std::string log;
    Device a('a', 0x100, 16, &log);
    EXPECT_DEATH(Device('b', first, count, &log), "STOP 0x000000C4");
  }
}

// Once the PnP manager has given out port ranges, every byte of an access
// must lie in a range a started device holds.
TEST(PortsDeathTest, AccessesOutsideTheGivenRangesStopTheRun) {
  PDEVICE_OBJECT pdo = hostk::CreatePdo({});
  (void)__inbyte(0x0010);  // nothing given out yet: nothing checked
  std::vector<uint8_t> list = hostk::ResourceList(
      {hostk::PortResource(0x100, 16), hostk::InterruptResource(5, 5), hostk::PortResource(0x200, 0)});
  hostk::AssignPorts(pdo, hostk::AsList(list));
  (void)__inbyte(0x100);
  __outdword(0x10C, 0);
  EXPECT_DEATH(__outword(0x10F, 0), "STOP 0x000000C4: out of 2 byte.* at port 0x010F, outside");
  EXPECT_DEATH((void)__inbyte(0x0000), "STOP 0x000000C4: in of 1 byte.* at port 0x0000, outside");
  EXPECT_DEATH((void)__inbyte(0x200), "outside") << "a range of no ports gives none";
  hostk::ReleaseAssignedPorts(pdo);
  EXPECT_DEATH((void)__inbyte(0x100), "outside") << "taken back at the stop";
  hostk::DeletePdo(pdo);
}

}  // namespace
