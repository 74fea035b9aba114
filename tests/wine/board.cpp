// The board under test, per model: the resources the helper starts it with,
// what its register file holds, and the port accesses the driver must make.
// The registers are the boards' (driver/dio_registers.h); what the driver
// does with them is written out here.
#include "bench_ports.h"
#include "checks.h"
#include "../../driver/dio_registers.h"

namespace winetest {

// The ports and interrupt of the host bench, so both kernels see one board.
using namespace hostboard;

// Layout 24's information bytes, at these offsets from the first range.
constexpr USHORT kInfoOffsets[] = DIO_L24_INFO_OFFSETS;
constexpr UCHAR kInfoBytes[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
// Layout 22's interrupt status registers hold something to acknowledge.
constexpr UCHAR kStatus22[] = {0x81, 0x02};

Board BoardFor(uint32_t model) {
  Board board = {};
  board.model = model;
  board.layout = model == DIO_MODEL_DIO_INFO ? kLayout24 : model == DIO_MODEL_NINE_CHANNEL ? kLayout22 : kGeneral;
  WINE_HELPER_RESOURCES &r = board.resources;
  bool pci = model > DIO_MODEL_LAST_LATCHED;
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
  board.pci = pci;
  board.base = kRegisterBase;
  board.infoBase = kInfoBase;
  const USHORT b = kRegisterBase;
  switch (board.layout) {
    case kLayout22:
      board.doPort = USHORT(b + DIO_L22_DO);
      board.intEn0 = USHORT(b + DIO_L22_INTEN0), board.intEn1 = USHORT(b + DIO_L22_INTEN1);
      board.intSt0 = USHORT(b + DIO_L22_INTST0), board.intSt1 = USHORT(b + DIO_L22_INTST1);
      board.sources = 9;
      break;
    case kLayout24:
      board.doPort = USHORT(b + DIO_L24_DO);
      board.intEn0 = USHORT(b + DIO_L24_INTEN0), board.intEn1 = USHORT(b + DIO_L24_INTEN1);
      board.intSt0 = USHORT(b + DIO_L24_INTST0), board.intSt1 = USHORT(b + DIO_L24_INTST1);
      board.summary = USHORT(kInfoBase + DIO_L24_INTSUM);
      board.sources = 16;
      break;
    case kGeneral:
      board.doPort = USHORT(b + DIO_GENERAL_DO);
      board.intEn0 = USHORT(b + DIO_GENERAL_INTEN0), board.intSt0 = USHORT(b + DIO_GENERAL_INTST0);
      board.sources = 8;
      break;
  }
  return board;
}

// The general layout names events 0 to 3 by sources 0 to 3; layout 22
// events 0 to 8 by its nine sources; layout 24, whose first information
// byte (0x11) gives two status registers, events 0 to 8 by sources 0 to 8.
int EventOfSource(const Board &board, int source) {
  return source < (board.layout == kGeneral ? 4 : 9) ? source : -1;
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
  if (board.layout == kLayout22) ports.push_back(Ports(board.intSt0, {kStatus22[0], kStatus22[1]}));
  return ports;
}

Trace &operator+=(Trace &trace, const Trace &more) {
  trace.insert(trace.end(), more.begin(), more.end());
  return trace;
}

Access In(USHORT port, ULONG value) { return {WINE_HELPER_IN, 1, port, value}; }
Access Out(USHORT port, ULONG value) { return {WINE_HELPER_OUT, 1, port, value}; }
Access Marker(UCHAR kind, ULONG value) { return {kind, 0, 0, value}; }

// The interrupt sources off and pending status cleared, in the layout's
// order; layout 22 acknowledges what it reads.
Trace ResetAccesses(const Board &board, bool atDisable, UCHAR pending0, UCHAR pending1) {
  switch (board.layout) {
    case kLayout22:
      return {Out(board.intEn0, 0), Out(board.intEn1, 0), In(board.intSt0, pending0), Out(board.intSt0, pending0),
              In(board.intSt1, pending1), Out(board.intSt1, pending1)};
    case kLayout24: {
      Trace trace = {Out(board.intSt0, 0), Out(board.intEn0, 0), Out(board.intEn1, 0), Out(board.intSt1, 0)};
      if (atDisable) {
        trace.push_back(Out(USHORT(board.base + DIO_L24_AUX70), 0));
        trace.push_back(Out(USHORT(board.base + DIO_L24_AUX80), 0));
      }
      return trace;
    }
    case kGeneral:
      break;
  }
  return {Out(board.intSt0, 0), Out(board.intEn0, 0)};
}

Trace ConnectAccesses(const Board &board) {
  Trace trace = {Marker(WINE_HELPER_CONNECT, 0)};
  if (!board.pci) trace.push_back(In(board.intSt0, 0));
  return trace;
}

// Layout 24 reads its summary first; every layout reads its status
// registers, then writes back what it read.
Trace InterruptAccesses(const Board &board, int source) {
  const UCHAR status0 = source < 8 ? UCHAR(1u << source) : 0;
  const UCHAR status1 = source < 8 ? 0 : UCHAR(1u << (source - 8));
  Trace trace;
  if (board.summary != kNoPort) trace.push_back(In(board.summary, 1));
  trace.push_back(In(board.intSt0, status0));
  if (board.intSt1 != kNoPort) trace.push_back(In(board.intSt1, status1));
  trace.push_back(Out(board.intSt0, status0));
  if (board.intSt1 != kNoPort) trace.push_back(Out(board.intSt1, status1));
  trace.push_back(Marker(WINE_HELPER_ISR, 1));
  trace.push_back(Marker(WINE_HELPER_DPC));
  return trace;
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
  return trace += ResetAccesses(board, false, kStatus22[0], kStatus22[1]);
}

std::vector<uint8_t> BoardInfo(const Board &board) {
  if (board.layout != kLayout24) return std::vector<uint8_t>(8, 0);
  // Bytes from offsets 0, 1, 2, 6, 4, 5, 31, then the constant 1.
  return {kInfoBytes[0], kInfoBytes[1], kInfoBytes[2], kInfoBytes[5],
          kInfoBytes[3], kInfoBytes[4], kInfoBytes[6], 1};
}

// The start acknowledged what layout 22 held: nothing is pending since.
Trace CloseAccesses(const Board &board, bool lastHandle, bool connected) {
  Trace trace;
  if (lastHandle) trace = ResetAccesses(board, true);
  if (lastHandle && connected) trace.push_back(Marker(WINE_HELPER_DISCONNECT, 0));
  trace.push_back(Access{WINE_HELPER_CLEANUP, 0, 0, 0 /* STATUS_SUCCESS */});
  trace.push_back(Access{WINE_HELPER_CLOSE, 0, 0, 0});
  return trace;
}

}  // namespace winetest
