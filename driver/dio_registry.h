// TesZEPDIO: the registry contract. The keys and values the driver writes and
// reads, the settings the applet keeps beside them, and what dioctl, the
// simulators and the bench look up, each name spelled here once. Plain string
// literals only: it needs no Windows header, and serves user mode, the kernel
// and the host harnesses alike.
//
// Every name is a narrow literal; its wide form is L"" NAME (adjacent
// literals take the wide prefix: L"" DIO_VALUE_ON_SYSTEM is L"OnSystem").
// Key paths are relative to HKEY_LOCAL_MACHINE; the kernel's absolute form
// puts DIO_KEY_MACHINE in front. The registry compares names without regard
// to case, but every name is stored as spelled here.
#pragma once

// The kernel's name of HKEY_LOCAL_MACHINE.
#define DIO_KEY_MACHINE "\\REGISTRY\\MACHINE\\"
#define DIO_KEY_SERVICES "SYSTEM\\CurrentControlSet\\Services\\"

// The driver's service key, which the installation makes. Its own value
// DIO_VALUE_DEVICE_TYPE (at most 4 bytes, read at load) is the board model
// of a device whose hardware key names none.
#define DIO_SERVICE_NAME "TESZEPDIOS"
#define DIO_KEY_SERVICE DIO_KEY_SERVICES DIO_SERVICE_NAME

// The device map: the driver's DeviceNNN subkey and, in MapEntry, one value
// per device, named by its number in decimal and holding the path user mode
// opens the device by ("\\.\...", REG_SZ stored without a terminator). The
// driver numbers every device 0.
#define DIO_DEVICE_MAP_NAME "ZEPDIO"
#define DIO_KEY_DEVICE_MAP DIO_KEY_SERVICES DIO_DEVICE_MAP_NAME
#define DIO_KEY_MAP_ENTRY_NAME "MapEntry"
#define DIO_KEY_MAP_ENTRY DIO_KEY_DEVICE_MAP "\\" DIO_KEY_MAP_ENTRY_NAME
#define DIO_VALUE_MAP_DEVICE0 "0"

// The DeviceNNN subkeys, under the service key and the device map: the name
// is "Device" and the device number in at least three digits, for numbers 0
// to 1000. The driver writes both at each start and deletes them at the
// device's removal; the applet takes the service's Device000 as the sign
// that the driver is installed.
#define DIO_KEY_DEVICE_FORMAT "Device%03d"
#define DIO_KEY_DEVICE000_NAME "Device000"
#define DIO_KEY_SERVICE_DEVICE000 DIO_KEY_SERVICE "\\" DIO_KEY_DEVICE000_NAME
#define DIO_KEY_MAP_DEVICE000 DIO_KEY_DEVICE_MAP "\\" DIO_KEY_DEVICE000_NAME

// Values of a DeviceNNN subkey: in the device map's, DriverName and
// KernelKey (DIO_SERVICE_NAME); in the service's, all of them, in this
// order (KernelKey DIO_DATA_KERNEL_KEY). Each REG_DWORD is 4 bytes, each
// REG_SZ stored with its terminator.
#define DIO_VALUE_ON_SYSTEM "OnSystem"              // REG_DWORD: 1 from a start, 0 once the system shut down
#define DIO_VALUE_DRIVER_NAME "DriverName"          // REG_SZ: DIO_DATA_LIBRARY
#define DIO_VALUE_KERNEL_KEY "KernelKey"            // REG_SZ
#define DIO_VALUE_BASE_ADDRESS "BaseAddress"        // REG_DWORD: the register block's port base
#define DIO_VALUE_INTERRUPT "Interrupt"             // REG_DWORD: the raw resource list's interrupt level
#define DIO_VALUE_ALLOW_CONFLICTS "AllowConflicts"  // REG_DWORD: 1
#define DIO_VALUE_DEVICE_TYPE "DeviceType"          // REG_DWORD: the board model
#define DIO_VALUE_BUS_NUMBER "BusNumber"            // REG_DWORD: a PCI board's bus, else 0
#define DIO_VALUE_SLOT_NUMBER "SlotNumber"          // REG_DWORD: a PCI board's slot, else 0
#define DIO_DATA_LIBRARY "TesZEPDIO.dll"            // the user-mode library of the device
#define DIO_DATA_KERNEL_KEY "TesZEPDIOS"            // the service's name, as the service subkey spells it

// The applet's subkeys of the service key. The driver reads "DO" at every
// start; "Interrupt" and "Counter" are the applet's alone, and a "Counter"
// key marks an applet that has run before.
#define DIO_KEY_DO_NAME "DO"
#define DIO_KEY_INTERRUPT_NAME "Interrupt"
#define DIO_KEY_COUNTER_NAME "Counter"
#define DIO_KEY_DO DIO_KEY_SERVICE "\\" DIO_KEY_DO_NAME
#define DIO_KEY_INTERRUPT DIO_KEY_SERVICE "\\" DIO_KEY_INTERRUPT_NAME
#define DIO_KEY_COUNTER DIO_KEY_SERVICE "\\" DIO_KEY_COUNTER_NAME

// "DO": the six REG_DWORD values of DIO_DO_CONFIG (dio_ioctl.h), in the
// order of its fields.
#define DIO_VALUE_DO_TRIGGER_START "DO_Trigger_Start"
#define DIO_VALUE_DO_TRIGGER_SHUTDOWN "DO_Trigger_Shutdown"
#define DIO_VALUE_DO_CHANNEL_START "DO_Channel_Start"
#define DIO_VALUE_DO_CHANNEL_SHUTDOWN "DO_Channel_Shutdown"
#define DIO_VALUE_DO_LEVEL_START "DO_Level_Start"
#define DIO_VALUE_DO_LEVEL_SHUTDOWN "DO_Level_Shutdown"

// "Interrupt": per DI channel n (in decimal, from 0), REG_SZ texts stored
// with their terminator. Reading compares the whole text, case-sensitively.
#define DIO_VALUE_DI_CONTROL_FORMAT "DI%d_Control"  // DIO_DATA_ENABLE or DIO_DATA_DISABLE
#define DIO_VALUE_DI_EDGE_FORMAT "DI%d_TriggerEdge"  // DIO_DATA_RISING or DIO_DATA_FALLING
#define DIO_DATA_ENABLE "Enable"
#define DIO_DATA_DISABLE "Disable"
#define DIO_DATA_RISING "Rising"
#define DIO_DATA_FALLING "Falling"

// "Counter": REG_SZ texts as "Interrupt"'s. Each counter's clock, gate and
// output hold the internal choice's word or the external one's.
#define DIO_VALUE_COUNTER_A_CLOCK "CounterA_CLKSource"  // DIO_DATA_INTERNAL or DIO_DATA_EXTERNAL
#define DIO_VALUE_COUNTER_A_GATE "CounterA_GateControl"  // DIO_DATA_INTERNAL or DIO_DATA_GATE_DI
#define DIO_VALUE_COUNTER_A_OUTPUT "CounterA_Output"     // DIO_DATA_REGISTER or DIO_DATA_OUTPUT_DO
#define DIO_VALUE_COUNTER_B_CLOCK "CounterB_CLKSource"
#define DIO_VALUE_COUNTER_B_GATE "CounterB_GateControl"
#define DIO_VALUE_COUNTER_B_OUTPUT "CounterB_Output"
#define DIO_VALUE_TIME_BASE "TimeBase"  // the internal clock's index, in decimal
#define DIO_DATA_INTERNAL "Internal"
#define DIO_DATA_EXTERNAL "External"
#define DIO_DATA_GATE_DI "DI"
#define DIO_DATA_REGISTER "Register"
#define DIO_DATA_OUTPUT_DO "DO"
