// dioctl, the command-line tool of the DIO board: its entry point, for the
// Windows program and for harnesses that run it on the host against the
// stand-ins. Plain C++: no Windows header is needed to call it.
#pragma once

#include <cstdio>

// Exit codes.
enum DioctlExit {
  kDioctlDone = 0,
  kDioctlRefused = 1,  // no device, access denied, or the driver refused the request
  kDioctlUsage = 2,    // the command line is wrong: nothing was sent to the device
};

// Runs one command line (argv[0] is the program's name). Results go to
// `out`; a failure is one line on `err`.
int DioctlMain(int argc, char **argv, FILE *out, FILE *err);
// The same for a command line ("read 3 --width 2") split at spaces, for
// harnesses that run the tool on the host.
int DioctlCommandLine(const char *commandLine, FILE *out, FILE *err);
