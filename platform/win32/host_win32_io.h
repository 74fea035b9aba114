// The host side of the Win32 stand-in's kernel32 I/O, SetupDi and console
// control: what tests and the simulator use to act as the console and to
// check what a program left behind. Plain C++: it names no Windows types, so
// a harness that includes the kernel stand-in's headers can use it too.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace hostwin {

// Ctrl+C at the console, as Windows delivers it: for each process with
// console control handlers, on a new thread in that process, the handlers
// from the most recently registered on, until one returns TRUE. False when
// a process had none that did: its default handler would have ended it.
bool PressCtrlC();

// The device's security as it stands for the program's user: CreateFile
// asking for any of `rights` (GENERIC_READ 0x80000000, GENERIC_WRITE
// 0x40000000) fails with ERROR_ACCESS_DENIED, as for a standard user when
// the device's security descriptor grants those rights to administrators
// only. 0 grants everything.
void DenyDeviceAccess(unsigned long rights);

// Handles the calling thread's user process holds.
size_t ProcessHandleCount();

// What programs left: device information sets not destroyed and console
// control handlers still registered. Empty when balanced.
std::vector<std::string> IoOutstanding();
// Forgets both, and grants every device access again.
void ResetIo();

}  // namespace hostwin
