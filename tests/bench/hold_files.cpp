// What any user of the machine may do to the files beside the program:
// opens each file named on the command line without sharing (creating a
// missing one), says "held" on its standard output, and keeps them so until
// it is ended. A file it cannot open is named on standard error, exit 1.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    // GENERIC_READ where allowed; a file closed to its user still yields to
    // a handle that reads only its attributes, as the folder's List right grants.
    HANDLE h = CreateFileW(argv[i], GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
      h = CreateFileW(argv[i], FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      std::fwprintf(stderr, L"cannot hold %ls: %lu\n", argv[i], GetLastError());
      return 1;
    }
  }
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(INFINITE);
  return 0;
}
