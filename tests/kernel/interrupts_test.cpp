// Interrupt lines as a PC delivers them, the processor threads of interrupts
// and DPCs, the device queue, and the verifier's rules for interrupts,
// critical regions, device queues and waits.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "host_kernel.h"

namespace {

constexpr ULONG kVector = 0x51;
constexpr KIRQL kIrql = 7;

// A device on the test vector's line. Its service routine claims the
// interrupt while the device asserts the line, and quiets the device from
// its `quietOn`-th call on (never when 0).
struct Device : hostk::InterruptSource {
  std::atomic<bool> asserted{false};
  std::atomic<int> calls{0};
  int quietOn = 1;
  bool claims = true;
  std::atomic<KIRQL> seenIrql{PASSIVE_LEVEL};
  std::atomic<std::thread::id> seenThread{};
  PKINTERRUPT interrupt = nullptr;

  Device() { hostk::AttachInterruptSource(kVector, this); }
  ~Device() override { hostk::DetachInterruptSource(this); }
  bool InterruptAsserted() const override { return asserted; }

  void Assert() {
    asserted = true;
    hostk::InterruptLineChanged(kVector);
  }
  void Quiet() {
    asserted = false;
    hostk::InterruptLineChanged(kVector);
  }
  static BOOLEAN Service(PKINTERRUPT, PVOID context) {
    auto *device = static_cast<Device *>(context);
    device->seenIrql = KeGetCurrentIrql();
    device->seenThread = std::this_thread::get_id();
    if (!device->asserted || !device->claims) return FALSE;
    if (++device->calls >= device->quietOn && device->quietOn != 0) device->Quiet();
    return TRUE;
  }
  NTSTATUS Connect(KINTERRUPT_MODE mode, BOOLEAN shared = TRUE) {
    return IoConnectInterrupt(&interrupt, Service, this, nullptr, kVector, kIrql, kIrql, mode, shared, 1, FALSE);
  }
  void Disconnect() {
    IoDisconnectInterrupt(interrupt);
    interrupt = nullptr;
  }
};

TEST(InterruptsTest, LatchedLinesDeliverOncePerEdge) {
  Device device;
  device.quietOn = 0;  // claims but never quiets: a latched line does not care
  ASSERT_EQ(device.Connect(Latched, FALSE), STATUS_SUCCESS);
  device.Assert();
  EXPECT_EQ(std::make_tuple(device.calls.load(), device.seenIrql.load()), std::make_tuple(1, kIrql));
  device.Assert();  // still asserted: no edge
  EXPECT_EQ(device.calls, 1);
  device.Quiet();
  device.Assert();
  EXPECT_EQ(device.calls, 2);
  device.claims = false;
  device.Quiet();
  device.Assert();  // nobody claims it: no storm on a latched line
  device.Quiet();
  device.Disconnect();
}

TEST(InterruptsTest, LevelSensitiveSharedLinesAreDeliveredWhileAsserted) {
  Device first, second;
  ASSERT_EQ(first.Connect(LevelSensitive), STATUS_SUCCESS);
  ASSERT_EQ(second.Connect(LevelSensitive), STATUS_SUCCESS);
  EXPECT_EQ(hostk::ConnectedInterrupts().size(), 2u);

  // The second device interrupts: the first routine declines, the second
  // claims; it quiets its device only on its third call.
  second.quietOn = 3;
  second.Assert();
  EXPECT_EQ(second.calls, 3);
  EXPECT_EQ(first.seenIrql, kIrql) << "asked first, it declined";

  // A line asserted while masked is delivered when a routine connects, before
  // IoConnectInterrupt returns.
  first.Disconnect();
  second.Disconnect();
  first.Assert();
  EXPECT_EQ(first.calls, 0) << "masked";
  ASSERT_EQ(first.Connect(LevelSensitive), STATUS_SUCCESS);
  EXPECT_EQ(first.calls, 1);

  // A spurious interrupt reaches the routines whatever the line.
  first.seenIrql = PASSIVE_LEVEL;
  EXPECT_FALSE(hostk::RaiseInterrupt(kVector));
  EXPECT_EQ(first.seenIrql, kIrql);
  first.Disconnect();
}

TEST(InterruptsTest, InterruptsWaitForTheProcessorsIrqlAndForAHold) {
  Device device;
  ASSERT_EQ(device.Connect(LevelSensitive), STATUS_SUCCESS);
  KIRQL old;
  KeRaiseIrql(kIrql, &old);
  device.Assert();
  EXPECT_EQ(device.calls, 0) << "masked by the IRQL";
  KeLowerIrql(old);
  EXPECT_EQ(device.calls, 1);

  hostk::HoldInterrupts(true);
  device.Assert();
  EXPECT_EQ(device.calls, 1);
  hostk::HoldInterrupts(false);
  EXPECT_EQ(device.calls, 2);
  device.Disconnect();
}

TEST(InterruptsTest, ProcessorThreadsRunServiceRoutinesAndDpcsBesideTheCaller) {
  static std::atomic<KIRQL> dpcIrql;
  static std::atomic<int> dpcRuns;
  dpcRuns = 0;
  KDPC dpc;
  KeInitializeDpc(&dpc, [](PKDPC, PVOID, PVOID, PVOID) {
    dpcIrql = KeGetCurrentIrql();
    ++dpcRuns;
  }, nullptr);
  hostk::UseProcessorThreads(true);

  Device device;
  ASSERT_EQ(device.Connect(LevelSensitive), STATUS_SUCCESS);
  // The routine runs elsewhere: the caller holds the interrupt's lock here,
  // so the delivery waits until it lets go.
  BOOLEAN notYet = KeSynchronizeExecution(device.interrupt, [](PVOID context) -> BOOLEAN {
    auto *d = static_cast<Device *>(context);
    d->Assert();
    for (int i = 0; i < 20; ++i) std::this_thread::yield();
    return d->calls == 0;
  }, &device);
  EXPECT_TRUE(notYet);
  while (device.asserted) std::this_thread::yield();
  EXPECT_EQ(device.calls, 1);
  EXPECT_EQ(device.seenIrql, kIrql);
  EXPECT_NE(device.seenThread.load(), std::this_thread::get_id());

  KeInsertQueueDpc(&dpc, nullptr, nullptr);
  KeFlushQueuedDpcs();
  EXPECT_EQ(std::make_tuple(dpcRuns.load(), dpcIrql.load()), std::make_tuple(1, KIRQL(DISPATCH_LEVEL)));
  device.Disconnect();
  hostk::UseProcessorThreads(false);
}

TEST(InterruptsTest, EntryHooksRunOnceBeforeTheRoutine) {
  Device device;
  int runs = 0;
  hostk::AtNextEntry("IoDisconnectInterrupt", [&] {
    ++runs;
    EXPECT_EQ(hostk::ConnectedInterrupts().size(), 1u) << "before anything is disconnected";
  });
  ASSERT_EQ(device.Connect(LevelSensitive), STATUS_SUCCESS);
  device.Disconnect();
  ASSERT_EQ(device.Connect(LevelSensitive), STATUS_SUCCESS);
  device.Disconnect();
  EXPECT_EQ(runs, 1);
}

// Runs `body` at DISPATCH_LEVEL, where the device queue routines must be called.
template <typename Body>
void AtDispatchLevel(Body body) {
  KIRQL old;
  KeRaiseIrql(DISPATCH_LEVEL, &old);
  body();
  KeLowerIrql(old);
}

TEST(DeviceQueueTest, AnIdleQueueIsOnlyMarkedBusyThenQueuesInOrder) {
  KDEVICE_QUEUE queue;
  KDEVICE_QUEUE_ENTRY first, second, third;
  KeInitializeDeviceQueue(&queue);
  AtDispatchLevel([&] {
    EXPECT_FALSE(KeInsertDeviceQueue(&queue, &first)) << "the caller starts the first request itself";
    EXPECT_TRUE(queue.Busy);
    EXPECT_FALSE(first.Inserted);
    EXPECT_TRUE(KeInsertDeviceQueue(&queue, &second));
    EXPECT_TRUE(KeInsertDeviceQueue(&queue, &third));
    EXPECT_TRUE(second.Inserted);
    EXPECT_EQ(KeRemoveDeviceQueue(&queue), &second);
    EXPECT_TRUE(queue.Busy) << "a queue stays busy while it hands out entries";
    EXPECT_FALSE(second.Inserted);
    EXPECT_EQ(KeRemoveDeviceQueue(&queue), &third);
    EXPECT_EQ(KeRemoveDeviceQueue(&queue), nullptr);
    EXPECT_FALSE(queue.Busy) << "an empty busy queue answers nothing and goes idle";
  });
}

// Storms, the interrupt lock, critical regions, device queues and waits
// that nothing ends: each misuse stops the run (a wait, as a deadlock, once
// nothing wakes it within the wait limit, instead of hanging the test).
TEST(InterruptsDeathTest, MisusesStopTheRun) {
  const std::pair<std::function<void()>, const char *> cases[] = {
      {[] {
         Device device;
         device.quietOn = 0;
         device.Connect(LevelSensitive);
         device.Assert();
       },
       "STOP 0x000000F2.*claimed by a service routine that does not quiet"},
      {[] {
         Device quiet, other;
         quiet.Connect(LevelSensitive);
         other.claims = false;
         hostk::AttachInterruptSource(kVector, &other);
         other.Assert();
       },
       "STOP 0x000000F2.*claimed by no service routine"},
      {[] {
         Device device;
         device.Connect(LevelSensitive);
         hostk::HoldInterrupts(true);
         device.Assert();
         device.Disconnect();
       },
       "STOP 0x000000C4: IoDisconnectInterrupt while the level-sensitive line.*quiet the device"},
      {[] {
         Device device;
         device.Connect(LevelSensitive);
         auto again = [](PVOID context) -> BOOLEAN {
           return KeSynchronizeExecution(static_cast<PKINTERRUPT>(context), [](PVOID) -> BOOLEAN { return TRUE; },
                                         nullptr);
         };
         KeSynchronizeExecution(device.interrupt, again, device.interrupt);
       },
       "STOP 0x000000C4: interrupt lock taken again by its holder"},
      {[] {
         Device device;
         device.Connect(LevelSensitive);
         PKINTERRUPT interrupt = device.interrupt;
         device.Disconnect();
         KeSynchronizeExecution(interrupt, [](PVOID) -> BOOLEAN { return TRUE; }, nullptr);
       },
       "STOP 0x000000C4: KeSynchronizeExecution with an interrupt object that is not connected"},
      {[] {
         KeEnterCriticalRegion();
         KeEnterCriticalRegion();
         KeLeaveCriticalRegion();
         KeLeaveCriticalRegion();
         KeLeaveCriticalRegion();
       },
       "STOP 0x000000C4: KeLeaveCriticalRegion without KeEnterCriticalRegion"},
      {[] { AtDispatchLevel([] { KeEnterCriticalRegion(); }); },
       "STOP 0x0000000A: KeEnterCriticalRegion called at IRQL 2"},
      {[] {
         KDEVICE_QUEUE queue;
         KeInitializeDeviceQueue(&queue);
         AtDispatchLevel([&] { KeRemoveDeviceQueue(&queue); });
       },
       "STOP 0x000000C4: KeRemoveDeviceQueue on a queue that is not busy"},
      {[] {
         hostk::SetWaitLimit(100);
         KEVENT never;
         KeInitializeEvent(&never, NotificationEvent, FALSE);
         KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr);
       },
       "STOP 0x000000C4: KeWaitForSingleObject without a timeout: no wake-up within 100 ms"},
      {[] {
         hostk::SetWaitLimit(100);
         hostk::WaitForBlockedThreads(1);
       },
       "STOP 0x000000C4: a wait of the host kernel: no wake-up within 100 ms"},
  };
  for (const auto &[misuse, stop] : cases) EXPECT_DEATH(misuse(), stop) << stop;
}

}  // namespace
