// Device objects and what must go before them (their DPCs, the interrupts they
// serve), PDO properties, interfaces, shutdown registrations.
#include <gtest/gtest.h>

#include "host_kernel.h"
#include "registry_store.h"

namespace {

NTSTATUS EmptyEntry(PDRIVER_OBJECT, PUNICODE_STRING) { return STATUS_SUCCESS; }

class DevicesTest : public testing::Test {
 protected:
  void SetUp() override { driver_ = hostk::LoadDriver(EmptyEntry, u"\\REGISTRY\\MACHINE\\test", nullptr); }
  void TearDown() override {
    if (device_) IoDeleteDevice(device_);
    if (pdo_) hostk::DeletePdo(pdo_);
    hostk::UnloadDriver(driver_);
  }
  PDEVICE_OBJECT Create(ULONG extensionSize) {
    EXPECT_EQ(IoCreateDevice(driver_, extensionSize, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device_), STATUS_SUCCESS);
    return device_;
  }
  PDRIVER_OBJECT driver_ = nullptr;
  PDEVICE_OBJECT device_ = nullptr;
  PDEVICE_OBJECT pdo_ = nullptr;
};

TEST_F(DevicesTest, NewDevicesAreZeroFilledInitialisingAndLinkedFirst) {
  hostk::FailAllocationAt(1);
  PDEVICE_OBJECT none = reinterpret_cast<PDEVICE_OBJECT>(1);
  EXPECT_EQ(IoCreateDevice(driver_, 16, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &none), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(none, nullptr);

  PDEVICE_OBJECT first = Create(13);
  ASSERT_NE(first->DeviceExtension, nullptr);
  for (int i = 0; i < 13; ++i) EXPECT_EQ(static_cast<uint8_t *>(first->DeviceExtension)[i], 0);
  EXPECT_EQ(first->Flags, ULONG(DO_DEVICE_INITIALIZING));
  EXPECT_EQ(first->StackSize, 1);
  PDEVICE_OBJECT second = nullptr;
  ASSERT_EQ(IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &second), STATUS_SUCCESS);
  EXPECT_EQ(second->DeviceExtension, nullptr);
  EXPECT_EQ(hostk::DevicesOf(driver_), (std::vector<PDEVICE_OBJECT>{second, first}));
  // Deleting a device removes its shutdown registrations: none is left at the test's end.
  ASSERT_EQ(IoRegisterShutdownNotification(second), STATUS_SUCCESS);
  IoDeleteDevice(second);
}

TEST_F(DevicesTest, PropertiesComeOnlyFromPdosThatHaveThem) {
  Create(0);
  hostk::PdoConfig config;
  config.busNumber = 4;
  config.address = 0x00090002;
  pdo_ = hostk::CreatePdo(config);
  ULONG value = 0, length = 0;
  EXPECT_EQ(IoGetDeviceProperty(pdo_, DevicePropertyAddress, 4, &value, &length), STATUS_SUCCESS);
  EXPECT_EQ(value, 0x00090002u);
  EXPECT_EQ(IoGetDeviceProperty(pdo_, DevicePropertyBusNumber, 3, &value, &length), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(IoGetDeviceProperty(pdo_, DevicePropertyUINumber, 4, &value, &length), STATUS_INVALID_PARAMETER_2);
  EXPECT_EQ(IoGetDeviceProperty(device_, DevicePropertyAddress, 4, &value, &length), STATUS_INVALID_DEVICE_REQUEST)
      << "a function device object is not a PDO";
}

TEST_F(DevicesTest, InterfaceStatesFollowTheKernelsStatuses) {
  pdo_ = hostk::CreatePdo({});
  const GUID guid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  UNICODE_STRING link, again;
  ASSERT_EQ(IoRegisterDeviceInterface(pdo_, &guid, nullptr, &link), STATUS_SUCCESS);
  EXPECT_EQ(link.MaximumLength, link.Length + 2) << "terminated";
  EXPECT_EQ(link.Buffer[link.Length / 2], 0);
  ASSERT_EQ(IoRegisterDeviceInterface(pdo_, &guid, nullptr, &again), STATUS_SUCCESS);
  EXPECT_EQ(hostk::Interfaces().size(), 1u) << "registering again gives the same interface";

  EXPECT_EQ(IoSetDeviceInterfaceState(&link, TRUE), STATUS_SUCCESS);
  EXPECT_EQ(IoSetDeviceInterfaceState(&again, TRUE), STATUS_OBJECT_NAME_EXISTS);
  std::string left = testing::PrintToString(hostk::Outstanding());
  EXPECT_NE(left.find("left enabled"), std::string::npos) << left;
  EXPECT_EQ(IoSetDeviceInterfaceState(&link, FALSE), STATUS_SUCCESS);
  EXPECT_DEATH(IoSetDeviceInterfaceState(&again, FALSE), "STOP 0x000000C4.*not enabled") << "disabled a second time";

  UNICODE_STRING bad;
  RtlInitUnicodeString(&bad, L"a\\b");
  UNICODE_STRING unused;
  EXPECT_EQ(IoRegisterDeviceInterface(pdo_, &guid, &bad, &unused), STATUS_INVALID_DEVICE_REQUEST);
  Create(0);
  EXPECT_EQ(IoRegisterDeviceInterface(device_, &guid, nullptr, &unused), STATUS_INVALID_DEVICE_REQUEST);
  RtlFreeUnicodeString(&link);
  RtlFreeUnicodeString(&again);
}

// The hardware key is the PDO's "Device Parameters", made at the first open,
// with the access asked for; one of the hardware and software keys is named,
// and only a PDO has them.
TEST_F(DevicesTest, HardwareKeyIsThePdosDeviceParameters) {
  hostk::PdoConfig config;
  config.instancePath = u"ROOT\\ZEPDIO\\0001";
  const std::string path = hostk::HardwareKeyPath(config);
  EXPECT_EQ(path, "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\ZEPDIO\\0001\\Device Parameters");
  pdo_ = hostk::CreatePdo(config);
  HANDLE key = nullptr;
  for (ULONG flags : {0u, 3u, 8u, ULONG(PLUGPLAY_REGKEY_CURRENT_HWPROFILE)})
    EXPECT_EQ(IoOpenDeviceRegistryKey(pdo_, flags, KEY_READ, &key), STATUS_INVALID_PARAMETER) << flags;
  ASSERT_EQ(IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key), STATUS_SUCCESS);
  EXPECT_NE(hostreg::Find(path), nullptr) << "made at the first open";
  std::string left = testing::PrintToString(hostk::Outstanding());
  EXPECT_NE(left.find("Device Parameters"), std::string::npos) << "the caller closes it: " << left;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"DeviceType");
  ULONG model = 22;
  EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_DWORD, &model, sizeof model), STATUS_ACCESS_DENIED) << "read access only";
  ZwClose(key);

  Create(0);
  EXPECT_DEATH(IoOpenDeviceRegistryKey(device_, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key),
               "STOP 0x000000CA: IoOpenDeviceRegistryKey of .* not a PDO");
  EXPECT_DEATH(IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &key), "STOP 0x000000C4.*simulated");
  KIRQL old;
  EXPECT_DEATH((KeRaiseIrql(APC_LEVEL, &old), IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key)),
               "STOP 0x0000000A: IoOpenDeviceRegistryKey");
}

TEST_F(DevicesTest, StacksAreBuiltOnReadyDevicesAndTakenDownInOrder) {
  pdo_ = hostk::CreatePdo({});
  Create(0);
  pdo_->Flags |= DO_DEVICE_INITIALIZING;
  EXPECT_EQ(IoAttachDeviceToDeviceStack(device_, pdo_), nullptr);
  pdo_->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
  ASSERT_EQ(IoAttachDeviceToDeviceStack(device_, pdo_), pdo_);
  EXPECT_DEATH(IoDeleteDevice(device_), "STOP 0x000000C4.*attached");
  EXPECT_DEATH(IoDetachDevice(device_), "STOP 0x000000C4.*nothing attached");
  EXPECT_DEATH(hostk::UnloadDriver(driver_), "still owns device objects");
  IoDetachDevice(pdo_);
}

TEST_F(DevicesTest, DeviceObjectsOutliveTheirDpcsAndInterrupts) {
  Create(16);
  KeInitializeDpc(&device_->Dpc, [](PKDPC, PVOID, PVOID, PVOID) {}, device_);
  hostk::HoldDpcs(true);
  KeInsertQueueDpc(&device_->Dpc, nullptr, nullptr);
  EXPECT_DEATH(IoDeleteDevice(device_), "STOP 0x000000C4.*DPC is still queued or running");
  EXPECT_DEATH(KeInitializeDpc(&device_->Dpc, nullptr, nullptr), "STOP 0x000000C4.*queued DPC");
  hostk::RunDpcs();

  PKINTERRUPT interrupt = nullptr;
  PKSERVICE_ROUTINE declines = [](PKINTERRUPT, PVOID) -> BOOLEAN { return FALSE; };
  ASSERT_EQ(IoConnectInterrupt(&interrupt, declines, device_->DeviceExtension, nullptr, 0x51, 7, 7, LevelSensitive, TRUE,
                               1, FALSE),
            STATUS_SUCCESS);
  EXPECT_DEATH(IoDeleteDevice(device_), "STOP 0x000000C4.*service context of a connected interrupt");
  IoDisconnectInterrupt(interrupt);
}

}  // namespace
