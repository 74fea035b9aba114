// Board models and their register maps.
//
// The layout is not probed: it follows from the board-model code read at
// load. Every register is 8 bits wide and sits at a port base plus an offset,
// on the 16-bit port space.
#include "driver.h"

// The registers of each layout are those of dio_registers.h: offsets from
// RegisterBase, the summary from InfoBase.

// Each layout once: its status registers and the events their bits name,
// and the order in which the interrupt reset turns the board off.
static const BOARD_REGISTER_MAP kGeneralRegisters = {
    DIO_GENERAL_DO,
    DIO_NO_REGISTER,
    // Eight sources, of which the first four name events 0 to 3.
    {{DIO_GENERAL_INTST0, DIO_GENERAL_EVENT_BITS, 0, FALSE}, {DIO_NO_REGISTER, 0, 0, FALSE}},
    FALSE,
    // The status register is cleared by a write of 0.
    {{DIO_GENERAL_INTST0, ResetWriteZero}, {DIO_GENERAL_INTEN0, ResetWriteZero}},
    2,
    {DIO_GENERAL_DO, DIO_GENERAL_INTEN0, DIO_NO_REGISTER}};

static const BOARD_REGISTER_MAP kLayout22Registers = {
    DIO_L22_DO,
    DIO_NO_REGISTER,
    // Sources 0 to 7 name events 0 to 7; the ninth source, event 8, is any
    // bit of the second register.
    {{DIO_L22_INTST0, 0xFF, 0, FALSE}, {DIO_L22_INTST1, 0, 8, TRUE}},
    FALSE,
    {{DIO_L22_INTEN0, ResetWriteZero},
     {DIO_L22_INTEN1, ResetWriteZero},
     {DIO_L22_INTST0, ResetWriteBack},
     {DIO_L22_INTST1, ResetWriteBack}},
    4,
    {DIO_L22_DO, DIO_L22_INTEN0, DIO_L22_INTEN1}};

static const BOARD_REGISTER_MAP kLayout24Registers = {
    DIO_L24_DO,
    DIO_L24_INTSUM,
    // Sixteen sources; bit n of register k is source 8k + n, and only event
    // numbers 0 to 8 exist.
    {{DIO_L24_INTST0, 0xFF, 0, FALSE}, {DIO_L24_INTST1, 0x01, 8, FALSE}},
    TRUE,
    {{DIO_L24_INTST0, ResetWriteZero},
     {DIO_L24_INTEN0, ResetWriteZero},
     {DIO_L24_INTEN1, ResetWriteZero},
     {DIO_L24_INTST1, ResetWriteZero},
     {DIO_L24_AUX70, ResetWriteZeroAtDisable},
     {DIO_L24_AUX80, ResetWriteZeroAtDisable}},
    6,
    {DIO_L24_DO, DIO_L24_INTEN0, DIO_L24_INTEN1}};

const BOARD_REGISTER_MAP *BoardRegisterMap(void) {
  switch (BoardLayout()) {
    case BoardLayout22: return &kLayout22Registers;
    case BoardLayout24: return &kLayout24Registers;
    default: return &kGeneralRegisters;
  }
}

BOARD_LAYOUT BoardLayout(void) {
  if (gDeviceType == DIO_MODEL_NINE_CHANNEL) return BoardLayout22;
  if (gDeviceType == DIO_MODEL_DIO_INFO) return BoardLayout24;
  return BoardLayoutGeneral;
}

BOOLEAN IsPciModel(ULONG model) { return model > DIO_MODEL_LAST_LATCHED; }

BOOLEAN IsPciBoard(void) { return IsPciModel(gDeviceType); }

KINTERRUPT_MODE BoardInterruptMode(void) { return IsPciBoard() ? LevelSensitive : Latched; }

BOOLEAN BoardInterruptShared(void) { return IsPciBoard(); }

// Whether the start gave the board its register block, and on layout 24 the
// information block before it. Without them the board is never touched:
// port base 0 would reach the PC's own devices (the DMA controller).
BOOLEAN BoardHasPorts(PDEVICE_EXTENSION extension) {
  return extension->PortCount != 0 &&
         (BoardLayout() != BoardLayout24 || extension->Range1Length != 0);
}

// A register's port is the base plus the offset, cut to the 16-bit port
// space.
static USHORT RegisterPort(ULONG base, ULONG offset) { return (USHORT)(base + offset); }

UCHAR ReadRegister(ULONG base, ULONG offset) {
  return READ_PORT_UCHAR((PUCHAR)(ULONG_PTR)RegisterPort(base, offset));
}

VOID WriteRegister(ULONG base, ULONG offset, UCHAR value) {
  WRITE_PORT_UCHAR((PUCHAR)(ULONG_PTR)RegisterPort(base, offset), value);
}

// Drives one DO channel. Only channels 0 to 7 name a bit of the 8-bit
// register: the shift count is taken modulo 32 and bits past bit 7 are lost,
// so any other channel writes the register back as it was read.
VOID SetDoBit(PDEVICE_EXTENSION extension, ULONG channel, ULONG level) {
  ULONG doOffset = BoardRegisterMap()->Do;
  UCHAR value = ReadRegister(RegisterBase(extension), doOffset);
  UCHAR mask = (UCHAR)(1u << (channel % 32));
  if (level != 0) {
    value |= mask;
  } else {
    value &= (UCHAR)~mask;
  }
  WriteRegister(RegisterBase(extension), doOffset, value);
}

static BOOLEAN IsStatusRegister(const BOARD_REGISTER_MAP *map, ULONG offset) {
  for (ULONG k = 0; k < DIO_STATUS_REGISTERS; ++k)
    if (map->Status[k].Offset == offset) return TRUE;
  return FALSE;
}

// The reset's steps in order: all of them, or only those on the status
// registers.
static VOID RunResetSteps(PDEVICE_EXTENSION extension, BOOLEAN atDisable, BOOLEAN statusOnly) {
  const BOARD_REGISTER_MAP *map = BoardRegisterMap();
  ULONG base = RegisterBase(extension);
  for (ULONG i = 0; i < map->ResetSteps; ++i) {
    const RESET_STEP *step = &map->Reset[i];
    if (statusOnly && !IsStatusRegister(map, step->Offset)) continue;
    switch (step->Action) {
      case ResetWriteBack:
        WriteRegister(base, step->Offset, ReadRegister(base, step->Offset));
        break;
      case ResetWriteZeroAtDisable:
        if (atDisable) WriteRegister(base, step->Offset, 0);
        break;
      default:
        WriteRegister(base, step->Offset, 0);
        break;
    }
  }
}

// Turns the board's interrupt sources off and clears what is pending.
VOID ResetInterruptRegisters(PDEVICE_EXTENSION extension, BOOLEAN atDisable) {
  RunResetSteps(extension, atDisable, FALSE);
}

// Clears pending status the way the reset does, leaving the sources as
// they are.
VOID ClearPendingStatus(PDEVICE_EXTENSION extension) { RunResetSteps(extension, FALSE, TRUE); }

// Takes the DO register and the interrupt enables into the extension.
VOID SaveBoardRegisters(PDEVICE_EXTENSION extension) {
  const BOARD_REGISTER_MAP *map = BoardRegisterMap();
  for (ULONG i = 0; i < DIO_SAVED_REGISTERS; ++i) {
    extension->SavedRegisters[i] =
        map->Saved[i] == DIO_NO_REGISTER ? 0 : ReadRegister(RegisterBase(extension), map->Saved[i]);
  }
}

// Writes them back, after clearing what the board latched meanwhile, so
// that no source that comes on again finds old status pending.
VOID RestoreBoardRegisters(PDEVICE_EXTENSION extension) {
  const BOARD_REGISTER_MAP *map = BoardRegisterMap();
  ClearPendingStatus(extension);
  for (ULONG i = 0; i < DIO_SAVED_REGISTERS; ++i) {
    if (map->Saved[i] != DIO_NO_REGISTER)
      WriteRegister(RegisterBase(extension), map->Saved[i], extension->SavedRegisters[i]);
  }
}

// Whether a board answers at the ports: the interrupt enables the reset has
// just written 0 read back as something else than all ones, which is what
// ports with no board behind them (or a board without power) read.
BOOLEAN BoardAnswers(PDEVICE_EXTENSION extension) {
  const BOARD_REGISTER_MAP *map = BoardRegisterMap();
  for (ULONG i = DIO_SAVED_INTEN0; i < DIO_SAVED_REGISTERS; ++i) {
    if (map->Saved[i] != DIO_NO_REGISTER && ReadRegister(RegisterBase(extension), map->Saved[i]) != 0xFF)
      return TRUE;
  }
  return FALSE;
}
