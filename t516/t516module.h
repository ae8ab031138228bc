#pragma once
#include "module.h"

namespace hv52 {

// The T516: two digital inputs, two relay outputs and three analog outputs.
//
// Poll: inputs and relays as every module has them, then the analog outputs'
// present values (0x0E72 + k), signal types (0x0EB2 + 4k), sources
// (0x0EB3 + 4k) and limits (0x0EB4 + 4k lower, 0x0EB5 + 4k upper), 27 reads.
// Settings: input modes (switched off in the window), relay commands, and per
// analog output its type, source and limits in one press.
const ModuleDef &t516Module();

constexpr int kAnalogOutputs = 3;

} // namespace hv52
