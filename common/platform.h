#pragma once

namespace hv52 {

// What a tool window's program sets up on its system once the application
// exists and before any widget: platform_posix.cpp, platform_win.cpp.
void preparePlatform();

} // namespace hv52
