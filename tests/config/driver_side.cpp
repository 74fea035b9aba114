#include "driver_side.h"

#include "bench.h"
#include "driver.h"

namespace meeting {

struct DriverSide::Harness {
  hostboard::Bench bench{DriverEntry};
};

DriverSide::DriverSide(uint32_t model) : harness_(std::make_unique<Harness>()) {
  hostboard::InstallModel(model);
  harness_->bench.Attach(model).SetDo(0xFF);
  harness_->bench.Load();
}

DriverSide::~DriverSide() = default;  // the bench takes everything down

bool DriverSide::StartBoard() {
  return NT_SUCCESS(harness_->bench.Add()) && harness_->bench.Start().ioStatus.Status == STATUS_SUCCESS;
}

void DriverSide::RemoveBoard() { harness_->bench.Remove(); }

uint8_t DriverSide::DoRegister() const { return harness_->bench.board->Do(); }

}  // namespace meeting
