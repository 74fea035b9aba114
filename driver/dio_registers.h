// TesZEPDIO: the DIO boards' models and registers, shared by the driver,
// user programs that drive a board through the port requests of
// dio_ioctl.h, and the simulated board. Plain integers only: it needs no
// Windows header.
//
// Every register is 8 bits wide. Offsets are from the register block (the
// port base port requests are relative to); layout 24's summary and
// board-information bytes are in its first port range, the information
// block.
#pragma once

// Board-model codes: the service key's "DeviceType".
#define DIO_MODEL_LAST_LATCHED 20  // codes above are PCI boards: level-sensitive, shared interrupt
#define DIO_MODEL_ISA_1 1          // the applet's counter page: the second set of pin names
#define DIO_MODEL_ISA_2 2          // ... and eight DO channels on its DO page
#define DIO_MODEL_ISA_3 3          // eight DO channels
#define DIO_MODEL_ISA_4 4          // no program LEDs
#define DIO_MODEL_NINE_CHANNEL 22  // layout 22: nine DI interrupt channels
#define DIO_MODEL_PCI_23 23        // no program LEDs
#define DIO_MODEL_DIO_INFO 24      // layout 24: board-information bytes
// Every other code is a board of the general layout.

// The general layout: DI sources 0 to 7 in INTEN0/INTST0; status bits 0 to 3
// name events 0 to 3. A write of 0 clears the status register.
#define DIO_GENERAL_DO 1
#define DIO_GENERAL_INTEN0 2
#define DIO_GENERAL_INTST0 7
#define DIO_GENERAL_EVENT_BITS 0x0F

// Layout 22: sources 0 to 7 in INTEN0/INTST0, source 8 in bit 0 of
// INTEN1/INTST1; status bits 0 to 7 name events 0 to 7 and any bit of INTST1
// event 8. Status bits are acknowledged by writing them back.
#define DIO_L22_DO 0
#define DIO_L22_INTEN0 4
#define DIO_L22_INTEN1 5
#define DIO_L22_INTST0 8
#define DIO_L22_INTST1 9

// Layout 24: sixteen sources, bit n of register k source 8k + n; status bits
// 0 to 7 of INTST0 name events 0 to 7, bit 0 of INTST1 event 8. The summary
// reads 0 when the interrupt is not the board's and has bit 0 set while a DI
// status is pending.
#define DIO_L24_DO 1
#define DIO_L24_INTEN0 2
#define DIO_L24_INTEN1 10
#define DIO_L24_INTST0 7
#define DIO_L24_INTST1 15
#define DIO_L24_AUX70 70
#define DIO_L24_AUX80 80
#define DIO_L24_INTSUM 24  // in the information block
#define DIO_L24_SUMMARY_DI 0x01
// The board-information bytes' offsets in the information block, in the
// order the driver reads them.
#define DIO_L24_INFO_OFFSETS {0, 1, 2, 4, 5, 6, 31}
#define DIO_L24_INFO_BYTES 7
