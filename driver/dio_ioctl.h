// TesZEPDIO: the device-control interface, shared by the driver and user-mode
// programs. Include it after <windows.h> and <winioctl.h> in user mode, or
// after <wdm.h> in the kernel.
//
// Every code is METHOD_BUFFERED: input and output share one system buffer.
// The I/O manager checks each code's access against the handle's granted
// access before the driver sees the request.
//
// While the device is stopped (Plug and Play may move its resources, a
// rebalance) port accesses wait, pending, and are carried out once it has
// started again; an enable takes its events at once and the restart
// connects the interrupt.
//
// Statuses of a failed request (its information count is then 0, except as
// noted for IOCTL_DIO_ENABLE_EVENT):
//   STATUS_NOT_IMPLEMENTED (0xC0000002)        a code not below, or not a device-control request
//   STATUS_INVALID_PARAMETER (0xC000000D)      port read: input other than 4 bytes or output
//                                              shorter than the width; port write: input
//                                              shorter than 4 plus the width
//   STATUS_BUFFER_TOO_SMALL (0xC0000023)       a buffer shorter than its record: enable (208
//                                              in and 208 out), DO configuration (24 in),
//                                              board information (8 out)
//   STATUS_ACCESS_VIOLATION (0xC0000005)       a port access not wholly inside the register
//                                              block (offset + width above the port count);
//                                              a port access or an enable on a board started
//                                              without its port ranges (a block of 0 ports)
//   STATUS_INVALID_DEVICE_STATE (0xC0000184)   a port access or an enable while the board is
//                                              not started (never, or no longer: removed)
//   STATUS_DEVICE_NOT_READY (0xC00000A3)       a port access or an enable while the board has
//                                              no power: the system is going to sleep or
//                                              waking, or the device is in D3 (and until its
//                                              registers are back); try again later
//   STATUS_CANCELLED (0xC0000120)              a port access held while the device is stopped
//                                              (see below), cancelled by its requester
//                                              (CancelIoEx) or by its handle's cleanup
//   STATUS_DELETE_PENDING (0xC0000056)         an open after a removal query succeeded (until
//                                              its cancel) or after a surprise removal; a port
//                                              access held while stopped when the device is
//                                              removed instead of started again
//   STATUS_FILE_CLOSED (0xC0000128)            enable: its handle was closed (by another
//                                              thread) before the request reached the driver
//   a handle lookup's status                   enable: an event handle refused; the driver
//                                              also writes it at offset 16 of the request with
//                                              information 208, which the I/O manager does not
//                                              copy back for an error status
//   the interrupt connection's status          enable: the board's interrupt not connected
#pragma once

// The DO start/shutdown configuration: what IOCTL_DIO_DO_SYS_CONFIG takes,
// what the driver holds and the applet edits, and the "DO" key's six values
// in the same order (dio_registry.h). Non-zero triggers drive a channel (a
// bit of the DO register) to a level (non-zero: set) when the board starts
// and when the system shuts down.
typedef struct _DIO_DO_CONFIG {
  ULONG TriggerStart;
  ULONG TriggerShutdown;
  ULONG ChannelStart;
  ULONG ChannelShutdown;
  ULONG LevelStart;
  ULONG LevelShutdown;
} DIO_DO_CONFIG, *PDIO_DO_CONFIG;

#define FILE_DEVICE_DIO 0x9C40u  // unsigned: the codes have the top bit set

// The device interface class every board's device is published under,
// {6B049747-8679-4542-B232-ECCD4D2C6519}, as an initializer of a GUID. A
// program finds the devices with SetupDiGetClassDevs and DIGCF_PRESENT |
// DIGCF_DEVICEINTERFACE; the device map's value "0" names the same path.
#define DIO_INTERFACE_GUID_VALUE \
  {0x6B049747, 0x8679, 0x4542, {0xB2, 0x32, 0xEC, 0xCD, 0x4D, 0x2C, 0x65, 0x19}}

#define IOCTL_DIO_READ_PORT_UCHAR CTL_CODE(FILE_DEVICE_DIO, 0x900, METHOD_BUFFERED, FILE_READ_ACCESS)
#define IOCTL_DIO_READ_PORT_USHORT CTL_CODE(FILE_DEVICE_DIO, 0x901, METHOD_BUFFERED, FILE_READ_ACCESS)
#define IOCTL_DIO_READ_PORT_ULONG CTL_CODE(FILE_DEVICE_DIO, 0x902, METHOD_BUFFERED, FILE_READ_ACCESS)
#define IOCTL_DIO_WRITE_PORT_UCHAR CTL_CODE(FILE_DEVICE_DIO, 0x910, METHOD_BUFFERED, FILE_WRITE_ACCESS)
#define IOCTL_DIO_WRITE_PORT_USHORT CTL_CODE(FILE_DEVICE_DIO, 0x911, METHOD_BUFFERED, FILE_WRITE_ACCESS)
#define IOCTL_DIO_WRITE_PORT_ULONG CTL_CODE(FILE_DEVICE_DIO, 0x912, METHOD_BUFFERED, FILE_WRITE_ACCESS)
#define IOCTL_DIO_ENABLE_EVENT CTL_CODE(FILE_DEVICE_DIO, 0x931, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_DIO_DISABLE_EVENT CTL_CODE(FILE_DEVICE_DIO, 0x935, METHOD_BUFFERED, FILE_WRITE_ACCESS)
#define IOCTL_DIO_DO_SYS_CONFIG CTL_CODE(FILE_DEVICE_DIO, 0x93E, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_DIO_GET_BOARD_INFO CTL_CODE(FILE_DEVICE_DIO, 0x93F, METHOD_BUFFERED, FILE_ANY_ACCESS)

#pragma pack(push, 1)

// Port requests. A read takes exactly the 4-byte offset and returns the value
// of its width at offset 0; a write takes the offset and the value.
typedef struct _DIO_PORT_IO {
  ULONG Offset;  // from the board's register base
  union {
    UCHAR Byte;
    USHORT Word;
    ULONG Dword;
  } Value;
} DIO_PORT_IO, *PDIO_PORT_IO;

// The event-enable request, used as input and output. Entry n of Handles
// (n = 0 to 8) is the event for event number n; a zero handle is skipped and
// entries past the ninth are ignored.
#define DIO_EVENT_COUNT 9
typedef struct _DIO_EVENT_REQUEST {
  UCHAR Reserved0[4];
  USHORT UserWord;
  UCHAR Reserved1[10];
  LONG Status;  // written back: 0, or the status of a refused handle
  UCHAR Reserved2[40];
  USHORT HandleCount;
  UCHAR Reserved3[2];
  ULONG64 Handles[18];
} DIO_EVENT_REQUEST, *PDIO_EVENT_REQUEST;

// The board-information bytes (all zero on layouts other than 24).
typedef struct _DIO_BOARD_INFO {
  UCHAR Bytes[8];
} DIO_BOARD_INFO, *PDIO_BOARD_INFO;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(DIO_EVENT_REQUEST) == 208, "the enable request is 208 bytes");
static_assert(__builtin_offsetof(DIO_EVENT_REQUEST, UserWord) == 4, "user word at 4");
static_assert(__builtin_offsetof(DIO_EVENT_REQUEST, Status) == 16, "status at 16");
static_assert(__builtin_offsetof(DIO_EVENT_REQUEST, HandleCount) == 60, "handle count at 60");
static_assert(__builtin_offsetof(DIO_EVENT_REQUEST, Handles) == 64, "handles at 64");
static_assert(sizeof(DIO_DO_CONFIG) == 24, "the DO configuration is 24 bytes");
static_assert(IOCTL_DIO_ENABLE_EVENT == 0x9C4024C4, "enable code");
static_assert(IOCTL_DIO_WRITE_PORT_ULONG == 0x9C40A448, "dword write code");
#endif
