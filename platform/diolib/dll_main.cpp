// TesZEPDIO.dll for Windows (and Wine): the stand-in library as a real DLL.
// The board comes from the environment variable TESZEPDIO_BOARD, eight
// numbers "di,do,flags,info.di,info.diInterrupt,info.do,info.pled,info.fpga"
// (the default board when it is not set), and every call is appended, one
// line each, to the file that TESZEPDIO_LOG names.
#include <cstdio>
#include <cstdlib>

#include "diolib.h"

namespace {

char logPath[260];

void AppendToLog(const diolib::Call &call) {
  if (!logPath[0]) return;
  if (FILE *log = fopen(logPath, "ab")) {
    fprintf(log, "%s\n", diolib::Describe(call).c_str());
    fclose(log);
  }
}

void ConfigureFromEnvironment() {
  diolib::Board board;
  if (const char *text = getenv("TESZEPDIO_BOARD")) {
    unsigned long di, dout, flags;
    unsigned info[5];
    if (sscanf(text, "%lu,%lu,%lu,%u,%u,%u,%u,%u", &di, &dout, &flags, &info[0], &info[1], &info[2], &info[3],
               &info[4]) == 8) {
      board.diCount = DWORD(di);
      board.doCount = DWORD(dout);
      board.featureFlags = DWORD(flags);
      board.info = DIO_INFO{BYTE(info[0]), BYTE(info[1]), BYTE(info[2]), 0, BYTE(info[3]), 0, BYTE(info[4]), 0};
    }
  }
  diolib::Configure(board);
  if (const char *path = getenv("TESZEPDIO_LOG")) snprintf(logPath, sizeof logPath, "%s", path);
  diolib::SetCallSink(AppendToLog);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) ConfigureFromEnvironment();
  return TRUE;
}
