#include "system/win32/win_file_store.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <vector>

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

namespace {

// FILE_INFO_BY_HANDLE_CLASS's FileRenameInfoEx (Windows 10 1709 and later),
// which the SDK names only for newer targets.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// Renames the open file to `name` in its own folder, replacing the file of
// that name even while others hold it open: the holders keep the old file,
// and every later open finds the new one. False where the system or the
// file system cannot rename so (Windows before 1709, FAT, Wine).
bool ReplaceByHandle(HANDLE file, const std::wstring& name) {
  // FILE_RENAME_INFO with its first member read as the flags.
  struct RenameInfo {
    DWORD flags;
    HANDLE root;
    DWORD length;
    WCHAR name[1];
  };
  static_assert(offsetof(RenameInfo, name) == offsetof(FILE_RENAME_INFO, FileName));
  std::vector<BYTE> buffer(offsetof(RenameInfo, name) + (name.size() + 1) * sizeof(WCHAR));
  auto* info = reinterpret_cast<RenameInfo*>(buffer.data());
  info->flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->root = nullptr;
  info->length = static_cast<DWORD>(name.size() * sizeof(WCHAR));
  std::memcpy(info->name, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  return SetFileInformationByHandle(file, kFileRenameInfoEx, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

}  // namespace

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
    auto create = [&](DWORD access) {
      return UniqueHandle(CreateFileW(temp.c_str(), access, 0, security_ ? &attributes : nullptr,
                                      security_ ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    // The right to rename it is asked for too; a folder that grants making
    // files but not deleting them gets the move below.
    UniqueHandle file = create(GENERIC_WRITE | DELETE);
    const bool may_rename = static_cast<bool>(file);
    if (!file && GetLastError() == ERROR_ACCESS_DENIED) file = create(GENERIC_WRITE);
    if (!file) return false;
    DWORD written = 0;
    bool ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size() && FlushFileBuffers(file.get());
    if (!ok) {
      file.reset();
      DeleteFileW(temp.c_str());
      return false;
    }
    // Whoever holds the file open (a handle that only reads its attributes
    // needs no more than the folder's List right) cannot keep it from being
    // replaced this way.
    const std::wstring name = target.substr(target.find_last_of(L"\\/") + 1);
    if (may_rename && ReplaceByHandle(file.get(), name)) {
      FlushFileBuffers(file.get());
      return true;
    }
  }
  // Where that rename is unknown: a read-only or held settings file refuses
  // the replacement, and then keeps its old content.
  if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace dadado::win32
