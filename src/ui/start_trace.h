// A trace of the program's start with timestamps, for finding where the time
// to the first window goes (tools/bench startup reads it). The platform
// installs a writer when the trace is asked for; without one a mark costs a
// test of a pointer.
#pragma once

namespace dadado {

using TraceWriter = void (*)(const char* what);
inline TraceWriter trace_writer = nullptr;

inline void TraceMark(const char* what) {
  if (trace_writer) trace_writer(what);
}

}  // namespace dadado
