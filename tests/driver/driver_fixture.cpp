#include "driver_fixture.h"

#include <cstring>

namespace diotest {

const std::string kService0 = DIO_KEY_MACHINE DIO_KEY_SERVICE_DEVICE000;
const std::string kDoKey = DIO_KEY_MACHINE DIO_KEY_DO;
const std::string kMap0 = DIO_KEY_MACHINE DIO_KEY_MAP_DEVICE000;
const std::string kMapEntry = DIO_KEY_MACHINE DIO_KEY_MAP_ENTRY;

StoredValue Stored(const std::string &keyPath, const std::string &name) {
  hostreg::Value value;
  if (!hostreg::GetValue(keyPath, name, &value)) {
    ADD_FAILURE() << "no value \"" << name << "\" in " << keyPath;
    return StoredValue{0, {}};
  }
  return StoredValue{value.type, value.data};
}

bool HasValue(const std::string &keyPath, const std::string &name) {
  hostreg::Value value;
  return hostreg::GetValue(keyPath, name, &value);
}

uint32_t StoredDword(const std::string &keyPath, const std::string &name) {
  StoredValue value = Stored(keyPath, name);
  EXPECT_EQ(value.type, uint32_t(REG_DWORD)) << name;
  uint32_t dword = 0;
  if (value.data.size() == 4) memcpy(&dword, value.data.data(), 4);
  else ADD_FAILURE() << name << " holds " << value.data.size() << " bytes";
  return dword;
}

void StoreDo(const DIO_DO_CONFIG &config) {
  const ULONG values[] = {config.TriggerStart, config.TriggerShutdown, config.ChannelStart,
                          config.ChannelShutdown, config.LevelStart, config.LevelShutdown};
  const char *names[] = {DIO_VALUE_DO_TRIGGER_START, DIO_VALUE_DO_TRIGGER_SHUTDOWN, DIO_VALUE_DO_CHANNEL_START,
                         DIO_VALUE_DO_CHANNEL_SHUTDOWN, DIO_VALUE_DO_LEVEL_START, DIO_VALUE_DO_LEVEL_SHUTDOWN};
  for (int i = 0; i < 6; ++i) hostreg::PutDword(kDoKey, names[i], values[i]);
}

std::vector<ULONG> DoFields(PDEVICE_EXTENSION x) {
  const DIO_DO_CONFIG &c = x->DoConfig;
  return {c.TriggerStart, c.TriggerShutdown, c.ChannelStart, c.ChannelShutdown, c.LevelStart, c.LevelShutdown};
}

std::vector<std::string> Describe(const std::vector<hostk::PortAccess> &accesses) {
  std::vector<std::string> lines;
  for (const auto &access : accesses) lines.push_back(hostk::Describe(access));
  return lines;
}

std::vector<std::string> Trace() { return Describe(hostk::PortTrace()); }

std::u16string InterfacePath() {
  std::vector<hostk::InterfaceInfo> interfaces = hostk::Interfaces();
  return interfaces.empty() ? u"" : u"\\\\.\\" + interfaces[0].symbolicLink.substr(4);
}

HANDLE Program::Open(ACCESS_MASK access, NTSTATUS expected, const std::u16string &path) {
  HANDLE file = nullptr;
  EXPECT_EQ(hostk::user::OpenFile(path, access, &file), expected);
  return file;
}

void DriverTest::Load() {
  ASSERT_EQ(bench_.Load(), STATUS_SUCCESS);
  ASSERT_NE(driver_, nullptr);
}

void DriverTest::Load(uint32_t deviceType) {
  hostboard::InstallModel(deviceType);
  Load();
}

PDEVICE_OBJECT DriverTest::Add(const hostk::PdoConfig &config) {
  return NT_SUCCESS(bench_.Add(config)) ? bench_.Device() : nullptr;
}

StartResources SameResources(const std::vector<hostk::Resource> &descriptors) {
  return StartResources{hostk::ResourceList(descriptors), hostk::ResourceList(descriptors)};
}

StartResources BoardResources() { return hostboard::BenchResources(gDeviceType); }

hostboard::SimBoard &DriverTest::AttachBoard() { return bench_.Attach(gDeviceType); }

hostk::IrpResult DriverTest::StartWith(StartResources resources) { return bench_.Start(pdos_.back(), resources); }

PDEVICE_OBJECT DriverTest::AddedDevice(uint32_t model) {
  Load(model);
  AttachBoard();
  return Add();
}

PDEVICE_OBJECT DriverTest::StartedDevice(uint32_t model,
                                         const std::function<void(hostboard::SimBoard &)> &prepare) {
  hostboard::InstallModel(model);
  hostboard::SimBoard &board = bench_.Attach(model);
  if (prepare) prepare(board);
  EXPECT_EQ(bench_.Load(), STATUS_SUCCESS);
  EXPECT_EQ(bench_.Add(), STATUS_SUCCESS);
  EXPECT_EQ(bench_.Start().ioStatus.Status, STATUS_SUCCESS);
  hostk::ClearPortTrace();
  return bench_.Device();
}

void DriverTest::FreshRow() {
  TearDown();
  EXPECT_EQ(hostk::Outstanding(), std::vector<std::string>()) << "left by the row before";
  hostk::ResetMachine();
}

std::unique_ptr<testing::ScopedTrace> DriverTest::FreshRow(const std::string &row) {
  auto trace = std::make_unique<testing::ScopedTrace>(__FILE__, __LINE__, row);
  FreshRow();
  return trace;
}

void DriverTest::TearDown() { bench_.TakeDown(); }

}  // namespace diotest
