// The machine policy of the program under HKLM\SOFTWARE\Policies\dadado,
// always in the 64-bit view, where Group Policy writes it.
#include <windows.h>

#include <string>
#include <vector>

#include "system/win32/handle.h"
#include "system/win32/wide.h"
#include "system/win32/win_os.h"

namespace dadado::win32 {

namespace {

// An administrator's text is never long; anything huge is not ours.
constexpr DWORD kLongestText = 4096;
// The Plans key holds a list of at most 16; a key with far more values is
// not one the templates wrote, and reading it all would only cost time.
constexpr DWORD kMostValues = 256;

UniqueKey OpenPolicyKey(const std::string& path) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(path).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &raw) !=
      ERROR_SUCCESS)
    return UniqueKey();
  return UniqueKey(raw);
}

// Every number and text of the key into `values`, each under `name_of` its
// own name; values of other types are no setting's and are left out.
template <typename NameOf>
void ReadValues(HKEY key, PolicyValues& values, NameOf name_of, DWORD most) {
  DWORD count = 0, longest_name = 0, longest_data = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longest_name,
                       &longest_data, nullptr, nullptr) != ERROR_SUCCESS)
    return;
  std::vector<wchar_t> name(longest_name + 1);
  std::vector<BYTE> data(std::min<DWORD>(longest_data, kLongestText) + sizeof(wchar_t));
  for (DWORD i = 0; i < count && i < most; ++i) {
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD type = 0, size = static_cast<DWORD>(data.size() - sizeof(wchar_t));
    if (RegEnumValueW(key, i, name.data(), &name_length, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) continue;
    PolicyData value;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
      DWORD number = 0;
      memcpy(&number, data.data(), sizeof number);
      value.number = number;
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      value.text = Narrow(text);
    } else {
      continue;  // of a type no setting has
    }
    values[name_of(Narrow(std::wstring(name.data(), name_length)))] = value;
  }
}

}  // namespace

PolicyValues WinOperatingSystem::ReadPolicyValues() {
  PolicyValues values;
  UniqueKey key = OpenPolicyKey(policy::kKey);
  if (!key) return values;
  ReadValues(key.get(), values, [](std::string name) { return name; }, MAXDWORD);
  // The list of plans is a key of its own, its values numbered 1, 2, 3 ...
  if (UniqueKey plans = OpenPolicyKey(std::string(policy::kKey) + "\\" + policy::kPlans))
    ReadValues(plans.get(), values, [](const std::string& name) { return policy::PlanValueName(name); }, kMostValues);
  return values;
}

}  // namespace dadado::win32
