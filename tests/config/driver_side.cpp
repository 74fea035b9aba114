#include "driver_side.h"

#include "driver_fixture.h"

namespace meeting {

// The driver tests' fixture, used outside a test of its own.
struct DriverSide::Harness : public diotest::DriverTest {
  void TestBody() override {}
  using diotest::DriverTest::Add;
  using diotest::DriverTest::AttachBoard;
  using diotest::DriverTest::Load;
  using diotest::DriverTest::Start;
  using diotest::DriverTest::TearDown;
  using diotest::DriverTest::board_;
  using diotest::DriverTest::pdos_;
};

DriverSide::DriverSide(uint32_t model) : harness_(std::make_unique<Harness>()) {
  harness_->Load(model);
  harness_->AttachBoard().SetDo(0xFF);
}

DriverSide::~DriverSide() { harness_->TearDown(); }

bool DriverSide::StartBoard() {
  if (!harness_->Add()) return false;
  diotest::StartResources resources = diotest::BoardResources();
  return harness_->Start(harness_->pdos_.back(), resources).ioStatus.Status == STATUS_SUCCESS;
}

void DriverSide::RemoveBoard() {
  for (PDEVICE_OBJECT pdo : harness_->pdos_)
    if (pdo->AttachedDevice) hostk::SendPnp(pdo, IRP_MN_REMOVE_DEVICE);
}

uint8_t DriverSide::DoRegister() const { return harness_->board_->Do(); }

}  // namespace meeting
