#pragma once
#include "transport.h"

#include <memory>

namespace hv52 {

// The one module's bus address the settings give; LinkError when there is
// none, or it is the broadcast address or a reserved one.
quint8 busAddressOf(const LineSettings &settings);

// The transport for a line's typed settings, configured for them, in `line`.
// The settings are checked first, in the order the parent program's command
// line gives them, and `line` is left as it was when one is wrong (LinkError
// naming it). A transport of the same kind in `line` is configured again, not
// made anew: its port stays one object across operations. `label` receives
// the line's label ("COM3", the device path, host and port) as soon as it is
// known, also when a later check fails. True when a new transport was made,
// which the caller has yet to connect to.
bool makeTransport(const LineSettings &settings, std::unique_ptr<Transport> &line, QString &label);

} // namespace hv52
