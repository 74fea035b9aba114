// The simulated port space: routing to port devices, unclaimed ports,
// accesses that cross the end of a claim, claims and the access trace.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "host_kernel.h"

namespace {

// A port device with byte memory that records every call it receives.
class RecordingDevice : public hostk::PortDevice {
 public:
  struct Call {
    bool write;
    uint16_t port;
    int width;
    uint32_t value;
    bool operator==(const Call &o) const {
      return write == o.write && port == o.port && width == o.width && value == o.value;
    }
  };

  RecordingDevice(uint16_t first, uint32_t count, uint8_t fill) : fill_(fill) {
    hostk::ClaimPorts(first, count, this);
  }
  ~RecordingDevice() override { hostk::ReleasePorts(this); }

  uint32_t Read(uint16_t port, int width) override {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value |= uint32_t(Byte(uint16_t(port + i))) << (8 * i);
    calls.push_back(Call{false, port, width, value});
    return value;
  }
  void Write(uint16_t port, int width, uint32_t value) override {
    for (int i = 0; i < width; ++i) memory[uint16_t(port + i)] = uint8_t(value >> (8 * i));
    calls.push_back(Call{true, port, width, value});
  }

  uint8_t Byte(uint16_t port) const {
    auto it = memory.find(port);
    return it == memory.end() ? fill_ : it->second;
  }

  std::map<uint16_t, uint8_t> memory;
  std::vector<Call> calls;

 private:
  uint8_t fill_;
};

using Call = RecordingDevice::Call;

class PortsTest : public ::testing::Test {
 protected:
  void SetUp() override { hostk::ClearPortTrace(); }
  void TearDown() override { hostk::ClearPortTrace(); }
};

uint32_t In(uint16_t port, int width) {
  switch (width) {
    case 1: return __inbyte(port);
    case 2: return __inword(port);
    default: return __indword(port);
  }
}

void Out(uint16_t port, int width, uint32_t value) {
  switch (width) {
    case 1: __outbyte(port, UCHAR(value)); break;
    case 2: __outword(port, USHORT(value)); break;
    default: __outdword(port, value); break;
  }
}

TEST_F(PortsTest, AccessInsideOneClaimReachesItsDeviceAsOneAccess) {
  struct Case {
    uint16_t port;
    int width;
    uint32_t written;
  };
  const Case cases[] = {
      {0x300, 1, 0x5A},       {0x31F, 1, 0xA5},       {0x302, 2, 0xBEEF},
      {0x31E, 2, 0x1234},     {0x304, 4, 0xCAFEF00D}, {0x31C, 4, 0x01020304},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << "port 0x" << std::hex << c.port << " width " << c.width);
    RecordingDevice device(0x300, 32, 0);
    RecordingDevice neighbour(0x320, 32, 0);
    Out(c.port, c.width, c.written);
    EXPECT_EQ(In(c.port, c.width), c.written);
    EXPECT_EQ(device.calls, (std::vector<Call>{{true, c.port, c.width, c.written},
                                               {false, c.port, c.width, c.written}}));
    EXPECT_TRUE(neighbour.calls.empty());
  }
}

TEST_F(PortsTest, UnclaimedPortsReadAllOnesAndSwallowWrites) {
  struct Case {
    uint16_t port;
    int width;
    uint32_t expected;
  };
  // Claims at 0x100..0x10F and 0x120..0x12F leave a hole at 0x110..0x11F.
  const Case cases[] = {
      {0x110, 1, 0xFF}, {0x114, 2, 0xFFFF}, {0x118, 4, 0xFFFFFFFF}, {0x0000, 4, 0xFFFFFFFF}};
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << "port 0x" << std::hex << c.port);
    RecordingDevice below(0x100, 16, 0);
    RecordingDevice above(0x120, 16, 0);
    Out(c.port, c.width, 0);
    EXPECT_EQ(In(c.port, c.width), c.expected);
    EXPECT_TRUE(below.calls.empty());
    EXPECT_TRUE(above.calls.empty());
  }
}

TEST_F(PortsTest, AccessAcrossTwoClaimsIsSplitIntoBytesLittleEndian) {
  RecordingDevice a(0x100, 4, 0);
  RecordingDevice b(0x104, 4, 0);
  a.memory = {{0x102, 0x33}, {0x103, 0x44}};
  b.memory = {{0x104, 0x55}, {0x105, 0x66}};

  EXPECT_EQ(__indword(0x102), 0x66554433u);
  EXPECT_EQ(a.calls, (std::vector<Call>{{false, 0x102, 1, 0x33}, {false, 0x103, 1, 0x44}}));
  EXPECT_EQ(b.calls, (std::vector<Call>{{false, 0x104, 1, 0x55}, {false, 0x105, 1, 0x66}}));

  a.calls.clear();
  b.calls.clear();
  __outword(0x103, 0xBBAA);
  EXPECT_EQ(a.calls, (std::vector<Call>{{true, 0x103, 1, 0xAA}}));
  EXPECT_EQ(b.calls, (std::vector<Call>{{true, 0x104, 1, 0xBB}}));

  // The trace keeps the driver's view: one access each, at full width.
  ASSERT_EQ(hostk::PortTrace().size(), 2u);
  EXPECT_EQ(hostk::PortTrace()[0].width, 4);
  EXPECT_EQ(hostk::PortTrace()[0].value, 0x66554433u);
  EXPECT_EQ(hostk::PortTrace()[1].width, 2);
}

TEST_F(PortsTest, BytesOutsideEveryClaimReadAsOnesWithinASplitAccess) {
  struct Case {
    uint16_t port;
    int width;
    uint32_t expected;
  };
  // The device owns only 0x200 and 0x201.
  const Case cases[] = {
      {0x201, 2, 0xFFBB},      // runs off the end of the claim
      {0x1FF, 2, 0xAAFF},      // starts before the claim
      {0x1FF, 4, 0xFFBBAAFF},  // covers the whole claim and more
      {0x200, 4, 0xFFFFBBAA},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << "port 0x" << std::hex << c.port << " width " << c.width);
    RecordingDevice device(0x200, 2, 0);
    device.memory = {{0x200, 0xAA}, {0x201, 0xBB}};
    EXPECT_EQ(In(c.port, c.width), c.expected);
    for (const Call &call : device.calls) EXPECT_EQ(call.width, 1);
    // Writes reach only the claimed bytes.
    Out(c.port, c.width, 0x11223344);
    EXPECT_EQ(device.memory.size(), 2u);
  }
}

TEST_F(PortsTest, ClaimsWrapAroundTheTopOfThePortSpace) {
  RecordingDevice device(0xFFFE, 4, 0x77);  // 0xFFFE, 0xFFFF, 0x0000, 0x0001
  EXPECT_EQ(__indword(0xFFFE), 0x77777777u);
  EXPECT_EQ(__inword(0xFFFF), 0x7777u);
  EXPECT_EQ(__inbyte(0x0001), 0x77);
  EXPECT_EQ(__inbyte(0x0002), 0xFF);
  EXPECT_EQ(device.calls, (std::vector<Call>{{false, 0xFFFE, 4, 0x77777777},
                                             {false, 0xFFFF, 2, 0x7777},
                                             {false, 0x0001, 1, 0x77}}));
  // Accesses that leave the claim after wrapping, or cross into it from
  // another claim just below, are split.
  EXPECT_EQ(__indword(0xFFFF), 0xFF777777u);
  RecordingDevice below(0xFFFC, 2, 0x12);
  EXPECT_EQ(__indword(0xFFFC), 0x77771212u);
}

TEST_F(PortsTest, ReleasedPortsGoBackToUnclaimedAndMayBeClaimedAgain) {
  RecordingDevice keep(0x400, 8, 0x11);
  {
    RecordingDevice gone(0x408, 8, 0x22);  // adjacent claims are fine
    hostk::ClaimPorts(0x600, 4, &gone);    // and a device may hold several
    EXPECT_EQ(__inbyte(0x408), 0x22);
    EXPECT_EQ(__inbyte(0x603), 0x22);
  }
  EXPECT_EQ(__inbyte(0x408), 0xFF);
  EXPECT_EQ(__inbyte(0x603), 0xFF);
  EXPECT_EQ(__inbyte(0x407), 0x11);  // another device's claim stays
  RecordingDevice again(0x408, 8, 0x33);
  EXPECT_EQ(__inbyte(0x408), 0x33);
}

TEST(PortsDeathTest, BadClaimsStopTheRun) {
  struct Case {
    const char *name;
    uint16_t first;
    uint32_t count;
  };
  // An existing claim covers 0x100..0x10F.
  const Case cases[] = {
      {"last port shared", 0x10F, 1},
      {"first port shared", 0x0F8, 9},
      {"inside", 0x104, 2},
      {"around", 0x0F0, 0x40},
      {"wrapping over it", 0xFFFF, 0x102},
      {"the same range", 0x100, 16},
      {"no ports", 0x200, 0},
      {"more than the port space", 0x200, 0x10001},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_DEATH(
        {
          RecordingDevice existing(0x100, 16, 0);
          RecordingDevice other(c.first, c.count, 0);
        },
        "STOP 0x000000C4");
  }
}

TEST_F(PortsTest, TraceRecordsEveryAccessInOrderWithTheValueSeen) {
  RecordingDevice device(0x300, 16, 0);
  device.memory = {{0x301, 0x5A}};
  hostk::ClearPortTrace();

  __outbyte(0x302, 0x00);
  EXPECT_EQ(__inbyte(0x301), 0x5A);
  __outword(0x304, 0x1234);
  EXPECT_EQ(__indword(0x900), 0xFFFFFFFFu);  // unclaimed, traced all the same
  EXPECT_EQ(READ_PORT_USHORT(reinterpret_cast<PUSHORT>(0x10304)), 0x1234);
  WRITE_PORT_ULONG(reinterpret_cast<PULONG>(0x308), 0xA1B2C3D4);

  const std::vector<hostk::PortAccess> &trace = hostk::PortTrace();
  ASSERT_EQ(trace.size(), 6u);
  struct Expected {
    bool write;
    int width;
    uint16_t port;
    uint32_t value;
  };
  const Expected expected[] = {
      {true, 1, 0x302, 0x00},       {false, 1, 0x301, 0x5A},        {true, 2, 0x304, 0x1234},
      {false, 4, 0x900, 0xFFFFFFFF}, {false, 2, 0x304, 0x1234}, {true, 4, 0x308, 0xA1B2C3D4},
  };
  for (size_t i = 0; i < trace.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(trace[i].write, expected[i].write);
    EXPECT_EQ(trace[i].width, expected[i].width);
    EXPECT_EQ(trace[i].port, expected[i].port);
    EXPECT_EQ(trace[i].value, expected[i].value);
  }

  hostk::ClearPortTrace();
  EXPECT_TRUE(hostk::PortTrace().empty());
}

TEST_F(PortsTest, ReadValuesNarrowerThanTheDeviceAnswerAreMaskedToTheWidth) {
  // A device answering with stray high bits must not leak them into a byte
  // read or its trace entry.
  class Sloppy : public hostk::PortDevice {
   public:
    uint32_t Read(uint16_t, int) override { return 0xDEADBE5A; }
    void Write(uint16_t, int, uint32_t) override {}
  } sloppy;
  hostk::ClaimPorts(0x700, 4, &sloppy);
  EXPECT_EQ(__inbyte(0x700), 0x5A);
  EXPECT_EQ(__inword(0x700), 0xBE5A);
  ASSERT_EQ(hostk::PortTrace().size(), 2u);
  EXPECT_EQ(hostk::PortTrace()[0].value, 0x5Au);
  EXPECT_EQ(hostk::PortTrace()[1].value, 0xBE5Au);
  hostk::ReleasePorts(&sloppy);
}

TEST(PortsDescribeTest, DescribesEachKindOfAccess) {
  struct Case {
    hostk::PortAccess access;
    const char *text;
  };
  const Case cases[] = {
      {{false, 1, 0x0301, 0x5A}, "in  byte  0x0301 -> 0x5A"},
      {{true, 1, 0x0302, 0x00}, "out byte  0x0302 <- 0x00"},
      {{false, 2, 0xFFFE, 0x00AB}, "in  word  0xFFFE -> 0x00AB"},
      {{true, 2, 0x0010, 0xBEEF}, "out word  0x0010 <- 0xBEEF"},
      {{false, 4, 0x0000, 0xFFFFFFFF}, "in  dword 0x0000 -> 0xFFFFFFFF"},
      {{true, 4, 0xABCD, 0x00000001}, "out dword 0xABCD <- 0x00000001"},
  };
  for (const Case &c : cases) EXPECT_EQ(hostk::Describe(c.access), c.text);
}

TEST_F(PortsTest, AccessesFromSeveralThreadsAreAllTraced) {
  class Counter : public hostk::PortDevice {
   public:
    uint32_t Read(uint16_t, int) override { return 0; }
    void Write(uint16_t, int, uint32_t) override {}
  } counter;
  hostk::ClaimPorts(0x800, 8, &counter);
  constexpr int kThreads = 4;
  constexpr int kAccesses = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kAccesses; ++i) {
        __outbyte(USHORT(0x800 + t), UCHAR(i));
        (void)__inbyte(USHORT(0x900 + t));
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  const std::vector<hostk::PortAccess> &trace = hostk::PortTrace();
  ASSERT_EQ(trace.size(), size_t(2 * kThreads * kAccesses));
  int writes[kThreads] = {};
  for (const hostk::PortAccess &access : trace)
    if (access.write) ++writes[access.port - 0x800];
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(writes[t], kAccesses);
  hostk::ReleasePorts(&counter);
}

}  // namespace
