// The register file of the 65536 ports and the DIO board on it, as the
// host's simulated board behaves (platform/board/sim_board.h): every
// register 8 bits wide; the status registers latch the rising edge of an
// enabled DI source and clear on the layout's acknowledge (layouts 22 and 24:
// the bits written; the general layout: a write of 0 clears all); layout
// 24's summary reads 1 while a status bit is pending; the board asserts its
// interrupt line while a status bit of an enabled source is pending. A board
// without power reads all ones, ignores writes and latches nothing; with
// power back its register block is at its power-on values (all 0), the
// information bytes as they were. Ports outside the board are plain memory.
// The registers are those of driver/dio_registers.h.
#include "helper.h"

#include "../../driver/dio_registers.h"

#define PORT_SPACE 65536
#define NO_REGISTER 0xFFFF

namespace {

// Offsets in the register block.
struct Layout {
  USHORT doReg, intEn0, intEn1, intSt0, intSt1;
  UCHAR group1Mask;  // the INTST1/INTEN1 bits that belong to DI sources
  ULONG sources;
};
const Layout kGeneral = {DIO_GENERAL_DO, DIO_GENERAL_INTEN0, NO_REGISTER, DIO_GENERAL_INTST0, NO_REGISTER, 0x00, 8};
const Layout kLayout22 = {DIO_L22_DO, DIO_L22_INTEN0, DIO_L22_INTEN1, DIO_L22_INTST0, DIO_L22_INTST1, 0x01, 9};
const Layout kLayout24 = {DIO_L24_DO, DIO_L24_INTEN0, DIO_L24_INTEN1, DIO_L24_INTST0, DIO_L24_INTST1, 0xFF, 16};

// Layout 24's information block: the summary, and the read-only bytes.
const ULONG kSummary = DIO_L24_INTSUM;
const ULONG kInfoBytes[] = DIO_L24_INFO_OFFSETS;
const ULONG kInfoLength = 32;

UCHAR gPorts[PORT_SPACE];
KSPIN_LOCK gLock;  // the register file and the board

struct Board {
  BOOLEAN present;
  BOOLEAN general;  // writes of 0 clear the whole status register
  BOOLEAN pci;
  const Layout *layout;
  USHORT blockBase;
  ULONG blockLength;
  USHORT infoBase;
  ULONG infoLength;  // 0 but on layout 24
  BOOLEAN powered;
  BOOLEAN asserted;
  UCHAR intSt0, intSt1;
} gBoard;

// The offset of `port` in a range, or -1.
LONG OffsetIn(USHORT port, USHORT base, ULONG length) {
  ULONG at = (USHORT)(port - base);
  return at < length ? (LONG)at : -1;
}

UCHAR BlockByte(USHORT offset) {
  return offset == NO_REGISTER ? 0 : gPorts[(USHORT)(gBoard.blockBase + offset)];
}

BOOLEAN AssertedLocked(void) {
  const Layout *l = gBoard.layout;
  return gBoard.present && gBoard.powered &&
         ((gBoard.intSt0 & BlockByte(l->intEn0)) != 0 ||
          (gBoard.intSt1 & BlockByte(l->intEn1) & l->group1Mask) != 0);
}

// Records the line's state; TRUE when it has just risen.
BOOLEAN UpdateLineLocked(void) {
  BOOLEAN asserted = AssertedLocked();
  BOOLEAN rose = asserted && !gBoard.asserted;
  gBoard.asserted = asserted;
  return rose;
}

BOOLEAN OnBoard(USHORT port) {
  return gBoard.present && (OffsetIn(port, gBoard.blockBase, gBoard.blockLength) >= 0 ||
                            OffsetIn(port, gBoard.infoBase, gBoard.infoLength) >= 0);
}

UCHAR ReadByteLocked(USHORT port) {
  if (!OnBoard(port)) return gPorts[port];
  if (!gBoard.powered) return 0xFF;
  LONG info = OffsetIn(port, gBoard.infoBase, gBoard.infoLength);
  if (info == (LONG)kSummary) return (gBoard.intSt0 | gBoard.intSt1) ? 0x01 : 0x00;
  LONG block = OffsetIn(port, gBoard.blockBase, gBoard.blockLength);
  if (block >= 0 && block == gBoard.layout->intSt0) return gBoard.intSt0;
  if (block >= 0 && block == gBoard.layout->intSt1) return gBoard.intSt1;
  return gPorts[port];
}

VOID WriteByteLocked(USHORT port, UCHAR value) {
  if (!OnBoard(port)) {
    gPorts[port] = value;
    return;
  }
  if (!gBoard.powered) return;
  LONG info = OffsetIn(port, gBoard.infoBase, gBoard.infoLength);
  if (info == (LONG)kSummary) return;
  for (ULONG i = 0; info >= 0 && i < sizeof(kInfoBytes) / sizeof(kInfoBytes[0]); ++i)
    if ((ULONG)info == kInfoBytes[i]) return;
  LONG block = OffsetIn(port, gBoard.blockBase, gBoard.blockLength);
  if (block >= 0 && block == gBoard.layout->intSt0) {
    gBoard.intSt0 = gBoard.general && value == 0 ? 0 : (UCHAR)(gBoard.intSt0 & ~value);
  } else if (block >= 0 && block == gBoard.layout->intSt1) {
    gBoard.intSt1 &= (UCHAR)~value;
  } else {
    gPorts[port] = value;
  }
}

}  // namespace

VOID InitializeBoardModel(void) { KeInitializeSpinLock(&gLock); }

// Setting the board's status registers sets what is pending.
VOID SetPorts(const WINE_HELPER_PORTS *ports) {
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  for (ULONG i = 0; i < ports->Count && i < sizeof(ports->Values); ++i) {
    USHORT port = (USHORT)(ports->First + i);
    LONG block = gBoard.present ? OffsetIn(port, gBoard.blockBase, gBoard.blockLength) : -1;
    if (block >= 0 && block == gBoard.layout->intSt0) {
      gBoard.intSt0 = ports->Values[i];
    } else if (block >= 0 && block == gBoard.layout->intSt1) {
      gBoard.intSt1 = ports->Values[i];
    } else {
      gPorts[port] = ports->Values[i];
    }
  }
  BOOLEAN rose = UpdateLineLocked();
  KeReleaseSpinLock(&gLock, irql);
  if (rose) BoardLineRose();
}

VOID SetBoard(const WINE_HELPER_BOARD *board) {
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  gBoard.present = TRUE;
  const ULONG model = board->Model;
  gBoard.general = model != DIO_MODEL_NINE_CHANNEL && model != DIO_MODEL_DIO_INFO;
  gBoard.pci = model > DIO_MODEL_LAST_LATCHED;
  gBoard.layout = model == DIO_MODEL_DIO_INFO ? &kLayout24 : model == DIO_MODEL_NINE_CHANNEL ? &kLayout22 : &kGeneral;
  gBoard.blockBase = board->BlockBase;
  gBoard.blockLength = board->BlockLength;
  gBoard.infoBase = board->InfoBase;
  gBoard.infoLength = model == DIO_MODEL_DIO_INFO ? kInfoLength : 0;
  gBoard.powered = TRUE;
  gBoard.intSt0 = gBoard.intSt1 = 0;
  for (ULONG i = 0; i < gBoard.blockLength; ++i) gPorts[(USHORT)(gBoard.blockBase + i)] = 0;
  gBoard.asserted = FALSE;
  KeReleaseSpinLock(&gLock, irql);
}

BOOLEAN BoardIsPci(void) { return gBoard.pci; }

ULONG ReadPorts(USHORT port, ULONG width) {
  ULONG value = 0;
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  for (ULONG i = 0; i < width; ++i) value |= (ULONG)ReadByteLocked((USHORT)(port + i)) << (8 * i);
  KeReleaseSpinLock(&gLock, irql);
  return value;
}

VOID WritePorts(USHORT port, ULONG width, ULONG value) {
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  for (ULONG i = 0; i < width; ++i) WriteByteLocked((USHORT)(port + i), (UCHAR)(value >> (8 * i)));
  BOOLEAN rose = UpdateLineLocked();
  KeReleaseSpinLock(&gLock, irql);
  if (rose) BoardLineRose();
}

VOID PulseDiLine(ULONG source) {
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  BOOLEAN rose = FALSE;
  if (gBoard.present && gBoard.powered && source < gBoard.layout->sources) {
    UCHAR bit = (UCHAR)(1u << (source & 7));
    if (source < 8) {
      if (BlockByte(gBoard.layout->intEn0) & bit) gBoard.intSt0 |= bit;
    } else if (BlockByte(gBoard.layout->intEn1) & bit) {
      gBoard.intSt1 |= bit;
    }
    rose = UpdateLineLocked();
  }
  KeReleaseSpinLock(&gLock, irql);
  if (rose) BoardLineRose();
}

BOOLEAN BoardLineAsserted(void) {
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  BOOLEAN asserted = AssertedLocked();
  KeReleaseSpinLock(&gLock, irql);
  return asserted;
}

VOID SetBoardPower(BOOLEAN powered) {
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  BOOLEAN changed = gBoard.present && gBoard.powered != powered;
  if (changed) {
    gBoard.powered = powered;
    gBoard.intSt0 = gBoard.intSt1 = 0;
    // Power-on values: the register block is cleared while it is off.
    for (ULONG i = 0; i < gBoard.blockLength; ++i) gPorts[(USHORT)(gBoard.blockBase + i)] = 0;
    UpdateLineLocked();
  }
  KeReleaseSpinLock(&gLock, irql);
  if (changed) RecordAccess(WINE_HELPER_BOARD_POWER, 0, 0, powered ? 1 : 0);
}

VOID ReadBoardState(WINE_HELPER_BOARD_STATE *state) {
  KIRQL irql;
  KeAcquireSpinLock(&gLock, &irql);
  const Layout *l = gBoard.layout != NULL ? gBoard.layout : &kGeneral;
  state->Powered = gBoard.powered;
  state->Do = BlockByte(l->doReg);
  state->IntEn0 = BlockByte(l->intEn0);
  state->IntEn1 = BlockByte(l->intEn1);
  state->IntSt0 = gBoard.intSt0;
  state->IntSt1 = gBoard.intSt1;
  state->LineAsserted = AssertedLocked();
  KeReleaseSpinLock(&gLock, irql);
}
