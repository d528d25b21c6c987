#include "system/win32/win_file_store.h"

#include <windows.h>

#include "system/win32/handle.h"
#include "system/win32/wide.h"

namespace dadado::win32 {

FileContent WinFileStore::Read(const std::string& path) {
  FileContent result;
  UniqueHandle file(CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD err = GetLastError();
    result.status = (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) ? ReadStatus::kMissing
                                                                                : ReadStatus::kError;
    return result;
  }
  char buf[8192];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buf, sizeof buf, &got, nullptr)) {
      result.status = ReadStatus::kError;
      result.bytes.clear();
      return result;
    }
    if (got == 0) break;
    result.bytes.append(buf, got);
  }
  result.status = ReadStatus::kOk;
  return result;
}

bool WinFileStore::WriteAtomically(const std::string& path, const std::string& bytes) {
  const std::wstring target = Widen(path);
  // A settings file the user has made read-only is left alone.
  DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
  const std::wstring temp = target + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security_, FALSE};
    // A leftover temporary file would keep its own security under
    // CREATE_ALWAYS, so with a security to give it the file must be new.
    if (security_) DeleteFileW(temp.c_str());
    UniqueHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, security_ ? &attributes : nullptr,
                                  security_ ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    bool ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size() && FlushFileBuffers(file.get());
    if (!ok) {
      file.reset();
      DeleteFileW(temp.c_str());
      return false;
    }
  }
  // A read-only or locked settings file refuses the replacement; it then
  // keeps its old content.
  if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace dadado::win32
