// The program's name and the version text shown in the tooltip, on the About
// tab and in the countdown's title.
#pragma once

#include <string>

#include "version.h"

namespace dadado {

inline constexpr char kProgramCaption[] = "dadado";

// "dadado 1.0.0"
inline std::string VersionText() { return std::string(kProgramCaption) + " " + DADADO_VERSION_TEXT; }

}  // namespace dadado
