// The start-up trace on Windows: on when the environment variable
// DADADO_TRACE names a file, which each mark appends a line to:
// "<microseconds since the process was created> <microseconds since 1970
// UTC> <what>".
#pragma once

#include "ui/start_trace.h"

namespace dadado::win32 {

inline constexpr wchar_t kTraceVariable[] = L"DADADO_TRACE";

// Installs the writer when the variable is set; first thing in the process.
void StartTraceIfAsked();

}  // namespace dadado::win32
