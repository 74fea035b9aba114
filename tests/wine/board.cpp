// The board under test, per model: the resources the helper starts it with,
// what its register file holds, and the port accesses the driver must make.
// The registers are the board's documented ones; nothing here is taken from
// the driver.
#include "bench_ports.h"
#include "checks.h"

namespace winetest {

// The ports and interrupt of the host bench, so both kernels see one board.
using namespace hostboard;

// Layout 24's information bytes, at these offsets from the first range.
constexpr USHORT kInfoOffsets[] = {0, 1, 2, 4, 5, 6, 31};
constexpr UCHAR kInfoBytes[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
// Layout 22's interrupt status registers hold something to acknowledge.
constexpr UCHAR kStatus22[] = {0x81, 0x02};

Board BoardFor(uint32_t model) {
  Board board = {};
  board.model = model;
  board.layout = model == 24 ? kLayout24 : model == 22 ? kLayout22 : kGeneral;
  WINE_HELPER_RESOURCES &r = board.resources;
  bool pci = model > 20;
  r.InterfaceType = pci ? 5 /* PCIBus */ : 1 /* Isa */;
  if (board.layout == kLayout24) {
    r.PortRangeCount = 3;
    r.Ports[0] = {kInfoBase, 32};
    r.Ports[1] = {kRegisterBase, 128};
    r.Ports[2] = {kThirdBase, 16};
    board.portCount = 128;
  } else {
    r.PortRangeCount = 1;
    r.Ports[0] = {kRegisterBase, 32};
    board.portCount = 32;
  }
  r.RawLevel = r.RawVector = kRawLevel;
  r.TranslatedLevel = kTranslatedLevel;
  r.TranslatedVector = kTranslatedVector;
  r.Affinity = kAffinity;
  r.InterruptFlags = pci ? 0 /* level-sensitive */ : 1 /* latched */;
  r.InterruptShare = pci ? 3 /* shared */ : 1 /* device exclusive */;
  board.base = kRegisterBase;
  board.infoBase = kInfoBase;
  board.doPort = USHORT(kRegisterBase + (board.layout == kLayout22 ? 0 : 1));
  return board;
}

static WINE_HELPER_PORTS Ports(USHORT first, std::initializer_list<UCHAR> values) {
  WINE_HELPER_PORTS ports = {};
  ports.First = first;
  for (UCHAR v : values) ports.Values[ports.Count++] = v;
  return ports;
}

std::vector<WINE_HELPER_PORTS> PortsBeforeStart(const Board &board) {
  std::vector<WINE_HELPER_PORTS> ports = {Ports(board.doPort, {kDoBefore})};
  if (board.layout == kLayout24) {
    for (size_t i = 0; i < sizeof(kInfoOffsets) / sizeof(kInfoOffsets[0]); ++i)
      ports.push_back(Ports(USHORT(board.infoBase + kInfoOffsets[i]), {kInfoBytes[i]}));
  }
  if (board.layout == kLayout22) ports.push_back(Ports(USHORT(board.base + 8), {kStatus22[0], kStatus22[1]}));
  return ports;
}

static Access In(USHORT port, ULONG value) { return {WINE_HELPER_IN, 1, port, value}; }
static Access Out(USHORT port, ULONG value) { return {WINE_HELPER_OUT, 1, port, value}; }

// The interrupt sources off and pending status cleared, in the layout's order.
static void AddInterruptReset(const Board &board, bool atDisable, Trace *trace) {
  USHORT b = board.base;
  switch (board.layout) {
    case kLayout22:
      trace->insert(trace->end(), {Out(b + 4, 0), Out(b + 5, 0), In(b + 8, kStatus22[0]),
                                   Out(b + 8, kStatus22[0]), In(b + 9, kStatus22[1]),
                                   Out(b + 9, kStatus22[1])});
      break;
    case kLayout24:
      trace->insert(trace->end(), {Out(b + 7, 0), Out(b + 2, 0), Out(b + 10, 0), Out(b + 15, 0)});
      if (atDisable) trace->insert(trace->end(), {Out(b + 70, 0), Out(b + 80, 0)});
      break;
    case kGeneral:
      trace->insert(trace->end(), {Out(b + 7, 0), Out(b + 2, 0)});
      break;
  }
}

Trace StartAccesses(const Board &board) {
  Trace trace;
  if (board.layout == kLayout24) {
    for (size_t i = 0; i < sizeof(kInfoOffsets) / sizeof(kInfoOffsets[0]); ++i)
      trace.push_back(In(USHORT(board.infoBase + kInfoOffsets[i]), kInfoBytes[i]));
  }
  UCHAR driven = UCHAR(kDoStartLevel ? kDoBefore | (1u << kDoStartChannel)
                                     : kDoBefore & ~(1u << kDoStartChannel));
  trace.push_back(In(board.doPort, kDoBefore));
  trace.push_back(Out(board.doPort, driven));
  AddInterruptReset(board, false, &trace);
  return trace;
}

std::vector<uint8_t> BoardInfo(const Board &board) {
  if (board.layout != kLayout24) return std::vector<uint8_t>(8, 0);
  // Bytes from offsets 0, 1, 2, 6, 4, 5, 31, then the constant 1.
  return {kInfoBytes[0], kInfoBytes[1], kInfoBytes[2], kInfoBytes[5],
          kInfoBytes[3], kInfoBytes[4], kInfoBytes[6], 1};
}

Trace CloseAccesses(const Board &board, bool lastHandle) {
  Trace trace;
  if (lastHandle) AddInterruptReset(board, true, &trace);
  trace.push_back(Access{WINE_HELPER_CLEANUP, 0, 0, 0 /* STATUS_SUCCESS */});
  trace.push_back(Access{WINE_HELPER_CLOSE, 0, 0, 0});
  return trace;
}

}  // namespace winetest
