// dadado.exe /usage: the usage history as CSV on standard output, for
// administrators' scripts and scheduled tasks; it changes nothing and shows
// no window.
#pragma once

#include <string>
#include <vector>

namespace dadado::win32 {

inline constexpr wchar_t kUsageArgument[] = L"/usage";

// The process's exit code: 0 when the history was written out, 1 when no
// history is kept, 2 when anything follows /usage on the command line, 3
// when the history cannot be read (under the guard only administrators may
// read it). `args` are the arguments, /usage first.
int RunUsageCommand(const std::vector<std::wstring>& args);

}  // namespace dadado::win32
