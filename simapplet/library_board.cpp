#include "library_board.h"

#include <cstdio>

#include "diolib.h"

namespace appletsim {
namespace {

std::string FeatureNames(DWORD flags) {
  const std::pair<DWORD, const char *> names[] = {{0x02, "counter"},      {0x04, "LED"},
                                                  {0x08, "program LED"},  {0x10, "buzzer"},
                                                  {0x20, "power state"},  {0x40, "DI interrupt"}};
  std::string out;
  for (const auto &name : names)
    if (flags & name.first) out += std::string(out.empty() ? "" : ", ") + name.second;
  return out.empty() ? "none" : out;
}

}  // namespace

void ConfigureLibrary(const Options &o) {
  diolib::Board board;
  if (o.features >= 0) board.featureFlags = DWORD(o.features);
  if (o.diCount >= 0) board.diCount = DWORD(o.diCount), board.info.diCount = BYTE(o.diCount);
  if (o.doCount >= 0) board.doCount = DWORD(o.doCount), board.info.doCount = BYTE(o.doCount);
  if (o.interruptCount >= 0) board.info.diInterruptCount = BYTE(o.interruptCount);
  if (o.pledCount >= 0) board.info.pledCount = BYTE(o.pledCount);
  if (o.fpgaVersion >= 0) board.info.fpgaVersion = BYTE(o.fpgaVersion);
  diolib::Configure(board);
}

std::vector<std::string> DescribeLibraryBoard() {
  const diolib::Board &board = diolib::Current();
  char text[160];
  std::vector<std::string> out;
  snprintf(text, sizeof text, "GetDeviceInfor: DI %lu, DO %lu, features 0x%02lX (%s)", (unsigned long)board.diCount,
           (unsigned long)board.doCount, (unsigned long)board.featureFlags, FeatureNames(board.featureFlags).c_str());
  out.push_back(text);
  const DIO_INFO &i = board.info;
  snprintf(text, sizeof text,
           "DeviceDIOInfo (model 24): DI %u, DI interrupts %u, DO %u, program LEDs %u, FPGA version %u", i.diCount,
           i.diInterruptCount, i.doCount, i.pledCount, i.fpgaVersion);
  out.push_back(text);
  return out;
}

std::vector<std::string> LibraryCallsFrom(size_t from) {
  std::vector<std::string> out;
  const auto &calls = diolib::Calls();
  for (size_t i = from; i < calls.size(); ++i) out.push_back(diolib::Describe(calls[i]));
  return out;
}

size_t LibraryCallCount() { return diolib::Calls().size(); }

}  // namespace appletsim
