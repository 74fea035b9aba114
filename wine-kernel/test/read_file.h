// A whole file's bytes, for the Wine programs that compare files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

inline bool ReadWholeFile(const std::wstring &path, std::vector<BYTE> *bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, NULL), read = 0;
  bytes->resize(size);
  bool ok = size == 0 || (ReadFile(file, bytes->data(), size, &read, NULL) && read == size);
  CloseHandle(file);
  return ok;
}
