// Board models and their register maps.
//
// The layout is not probed: it follows from the board-model code read at
// load. Every register is 8 bits wide and sits at a port base plus an offset,
// on the 16-bit port space.
#include "driver.h"

#define DIO_NO_REGISTER 0xFFFFFFFF

// Offsets from the register block's base (BaseAddress).
typedef struct _BOARD_REGISTERS {
  ULONG Do;        // digital outputs
  ULONG IntEn0;    // interrupt enable, group 0
  ULONG IntEn1;    // interrupt enable, group 1
  ULONG IntSt0;    // interrupt status, group 0; acknowledged by writing back
  ULONG IntSt1;    // interrupt status, group 1
} BOARD_REGISTERS;

static const BOARD_REGISTERS kGeneralRegisters = {1, 2, DIO_NO_REGISTER, 7, DIO_NO_REGISTER};
static const BOARD_REGISTERS kLayout22Registers = {0, 4, 5, 8, 9};
static const BOARD_REGISTERS kLayout24Registers = {1, 2, 10, 7, 15};

// Layout 24 only: cleared when the last handle's events are disabled.
#define DIO_REG24_AUX70 70
#define DIO_REG24_AUX80 80

static const BOARD_REGISTERS *Registers(void) {
  switch (BoardLayout()) {
    case BoardLayout22: return &kLayout22Registers;
    case BoardLayout24: return &kLayout24Registers;
    default: return &kGeneralRegisters;
  }
}

BOARD_LAYOUT BoardLayout(void) {
  if (gDeviceType == 22) return BoardLayout22;
  if (gDeviceType == 24) return BoardLayout24;
  return BoardLayoutGeneral;
}

BOOLEAN IsPciBoard(void) { return gDeviceType > 20; }

KINTERRUPT_MODE BoardInterruptMode(void) { return IsPciBoard() ? LevelSensitive : Latched; }

BOOLEAN BoardInterruptShared(void) { return IsPciBoard(); }

// A register's port is the low 32 bits of the base plus the offset, cut to
// the 16-bit port space.
static USHORT RegisterPort(ULONG64 base, ULONG offset) {
  return (USHORT)((ULONG)base + offset);
}

UCHAR ReadRegister(ULONG64 base, ULONG offset) {
  return READ_PORT_UCHAR((PUCHAR)(ULONG_PTR)RegisterPort(base, offset));
}

VOID WriteRegister(ULONG64 base, ULONG offset, UCHAR value) {
  WRITE_PORT_UCHAR((PUCHAR)(ULONG_PTR)RegisterPort(base, offset), value);
}

// Drives one DO channel. Only channels 0 to 7 name a bit of the 8-bit
// register: the shift count is taken modulo 32 and bits past bit 7 are lost,
// so any other channel writes the register back as it was read.
VOID SetDoBit(PDEVICE_EXTENSION extension, ULONG channel, ULONG level) {
  ULONG doOffset = Registers()->Do;
  UCHAR value = ReadRegister(extension->BaseAddress, doOffset);
  UCHAR mask = (UCHAR)(1u << (channel % 32));
  if (level != 0) {
    value |= mask;
  } else {
    value &= (UCHAR)~mask;
  }
  WriteRegister(extension->BaseAddress, doOffset, value);
}

// Turns the board's interrupt sources off and clears what is pending.
VOID ResetInterruptRegisters(PDEVICE_EXTENSION extension, BOOLEAN atDisable) {
  ULONG64 base = extension->BaseAddress;
  const BOARD_REGISTERS *reg = Registers();
  switch (BoardLayout()) {
    case BoardLayout22:
      WriteRegister(base, reg->IntEn0, 0);
      WriteRegister(base, reg->IntEn1, 0);
      WriteRegister(base, reg->IntSt0, ReadRegister(base, reg->IntSt0));
      WriteRegister(base, reg->IntSt1, ReadRegister(base, reg->IntSt1));
      break;
    case BoardLayout24:
      WriteRegister(base, reg->IntSt0, 0);
      WriteRegister(base, reg->IntEn0, 0);
      WriteRegister(base, reg->IntEn1, 0);
      WriteRegister(base, reg->IntSt1, 0);
      if (atDisable) {
        WriteRegister(base, DIO_REG24_AUX70, 0);
        WriteRegister(base, DIO_REG24_AUX80, 0);
      }
      break;
    default:
      WriteRegister(base, reg->IntSt0, 0);
      WriteRegister(base, reg->IntEn0, 0);
      break;
  }
}
