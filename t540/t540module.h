#pragma once
#include "module.h"

namespace hv52 {

// The T540: seven digital inputs. The input layout of the other modules
// continued over seven inputs: 21 reads; one input-mode setting per input
// (switched off in the window); its own reset list.
const ModuleDef &t540Module();

constexpr int kT540Inputs = 7;

} // namespace hv52
