// The board under test, per model: the resources the helper starts it with,
// what its register file holds and what the driver leaves in it. The
// registers are the boards' (driver/dio_registers.h).
#include "bench_ports.h"
#include "checks.h"
#include "../../driver/dio_registers.h"

namespace winetest {

// The ports and interrupt of the host bench, so both kernels see one board.
using namespace hostboard;

// Layout 24's information bytes, at these offsets from the first range.
constexpr USHORT kInfoOffsets[] = DIO_L24_INFO_OFFSETS;
constexpr UCHAR kInfoBytes[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
// Layout 22's interrupt status registers (INTST0 and INTST1, side by side)
// hold something to acknowledge.
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
      board.sources = 9;
      break;
    case kLayout24:
      board.doPort = USHORT(b + DIO_L24_DO);
      board.intEn0 = USHORT(b + DIO_L24_INTEN0), board.intEn1 = USHORT(b + DIO_L24_INTEN1);
      board.sources = 16;
      break;
    case kGeneral:
      board.doPort = USHORT(b + DIO_GENERAL_DO);
      board.intEn0 = USHORT(b + DIO_GENERAL_INTEN0);
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
  if (board.layout == kLayout22)
    ports.push_back(Ports(USHORT(board.base + DIO_L22_INTST0), {kStatus22[0], kStatus22[1]}));
  return ports;
}

Trace &operator+=(Trace &trace, const Trace &more) {
  trace.insert(trace.end(), more.begin(), more.end());
  return trace;
}

Access Marker(UCHAR kind, ULONG value) { return {kind, 0, 0, value}; }

Trace Requests(const Trace &trace) {
  Trace requests;
  for (const Access &a : trace) {
    if (a.kind != WINE_HELPER_IN && a.kind != WINE_HELPER_OUT) requests.push_back(a);
  }
  return requests;
}

Trace InterruptRequests() { return {Marker(WINE_HELPER_ISR, 1), Marker(WINE_HELPER_DPC)}; }

Trace CloseRequests(bool disconnects) {
  Trace trace;
  if (disconnects) trace.push_back(Marker(WINE_HELPER_DISCONNECT, 0));
  trace.push_back(Marker(WINE_HELPER_CLEANUP, 0 /* STATUS_SUCCESS */));
  trace.push_back(Marker(WINE_HELPER_CLOSE));
  return trace;
}

// The driver's work items restore registers in their own time: the state is
// polled for a while.
void CheckBoard(Helper &helper, const char *when, UCHAR doValue, UCHAR intEn0, UCHAR intEn1) {
  WINE_HELPER_BOARD_STATE s = {};
  bool same = WaitFor(2000, [&] {
    s = helper.BoardState();
    return s.Powered && s.Do == doValue && s.IntEn0 == intEn0 && s.IntEn1 == intEn1 && s.IntSt0 == 0 &&
           s.IntSt1 == 0 && !s.LineAsserted;
  });
  Check(same,
        "%s: the board has power, DO 0x%02X, enables 0x%02X 0x%02X, nothing pending (%s, DO 0x%02X, enables "
        "0x%02X 0x%02X, status 0x%02X 0x%02X, line %s)",
        when, doValue, intEn0, intEn1, s.Powered ? "on" : "off", s.Do, s.IntEn0, s.IntEn1, s.IntSt0, s.IntSt1,
        s.LineAsserted ? "up" : "down");
}

std::vector<uint8_t> BoardInfo(const Board &board) {
  if (board.layout != kLayout24) return std::vector<uint8_t>(8, 0);
  // Bytes from offsets 0, 1, 2, 6, 4, 5, 31, then the constant 1.
  return {kInfoBytes[0], kInfoBytes[1], kInfoBytes[2], kInfoBytes[5],
          kInfoBytes[3], kInfoBytes[4], kInfoBytes[6], 1};
}

}  // namespace winetest
