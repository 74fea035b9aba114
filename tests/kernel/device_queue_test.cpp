// The device queue: an idle queue is only marked busy, a busy one queues in
// order, and only a busy queue may be asked for its next entry.
#include <gtest/gtest.h>

#include "host_kernel.h"

namespace {

// Runs `body` at DISPATCH_LEVEL, where the queue routines must be called.
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
    EXPECT_TRUE(IsListEmpty(&queue.DeviceListHead));
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

TEST(DeviceQueueDeathTest, TakingFromAQueueThatIsNotBusyStopsTheRun) {
  KDEVICE_QUEUE queue;
  KeInitializeDeviceQueue(&queue);
  EXPECT_DEATH(AtDispatchLevel([&] { KeRemoveDeviceQueue(&queue); }),
               "STOP 0x000000C4: KeRemoveDeviceQueue on a queue that is not busy");
  // A queue that went idle once its last entry was taken.
  KDEVICE_QUEUE_ENTRY entry;
  EXPECT_DEATH(AtDispatchLevel([&] {
                 KeInsertDeviceQueue(&queue, &entry);
                 KeRemoveDeviceQueue(&queue);
                 KeRemoveDeviceQueue(&queue);
               }),
               "STOP 0x000000C4: KeRemoveDeviceQueue on a queue that is not busy");
}

}  // namespace
