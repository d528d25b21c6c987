// What any user may do to the files beside the program: holds each file
// named on the command line open without sharing (creating a missing one),
// says "held", and keeps them until it is ended.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    // A file closed to its user still yields a handle that only reads its
    // attributes, as the folder's List right grants.
    HANDLE h = CreateFileW(argv[i], GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) h = CreateFileW(argv[i], FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(INFINITE);
  return 0;
}
