// dadado.exe /status: for administrators' scripts, one JSON object on
// standard output (or, when that is not redirected, on the console of
// whoever started the program), and an exit code that says whether the
// control is in force. It changes nothing, needs no rights beyond a standard
// user's and shows no window.
#pragma once

#include <string>
#include <vector>

namespace dadado::win32 {

inline constexpr wchar_t kStatusArgument[] = L"/status";

// The process's exit code: 0 when the control is in force (by the guard
// when it is installed, else by a copy of the program in this session), 1
// when it is not, 2 when anything follows /status on the command line, 3
// when the guard runs but its status cannot be read or believed.
// `args` are the arguments, /status first.
int RunStatusCommand(const std::vector<std::wstring>& args);

// Text for standard output or standard error as /status writes it: to the
// handle when it leads anywhere (UTF-16 to a console, the bytes to a file or
// a pipe), else to the console of the process that started this one.
void EmitText(bool standard_error, const std::string& utf8);

}  // namespace dadado::win32
