// Which deliverable this translation unit is compiled into. The two builds share every source;
// the few places where they differ test this constant.
#pragma once

#if defined(QUELL_BUILD_MP) == defined(QUELL_BUILD_NT)
#error "compile the driver with exactly one of QUELL_BUILD_MP and QUELL_BUILD_NT"
#endif

namespace quell {

#if defined(QUELL_BUILD_MP)
inline constexpr bool kBuildMp = true;  // quellmp, the Windows 9x port environment
#else
inline constexpr bool kBuildMp = false;  // quellnt, the Windows NT/2000 port environment
#endif

}  // namespace quell
