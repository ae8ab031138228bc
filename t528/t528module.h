#pragma once
#include "module.h"

namespace hv52 {

// The T528: two digital inputs and two relay outputs. Its poll is the first
// twelve reads of the T516's; its settings the input modes (switched off in
// the window) and the relay commands.
const ModuleDef &t528Module();

} // namespace hv52
