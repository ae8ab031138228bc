#pragma once
// What a value control shows beyond its value, as plain names: the look
// colours them and the window sets them, neither knowing the other.

namespace hv52 {

// What a control shows, beyond its value: whether it came from this poll.
enum class Mark {
    None,
    Failed,      // the read failed: the control shows what 0 converts to
    UnitUnknown, // a limit converted with the scale of a source whose read failed
    NotRead,     // not from this poll: see NotRead below for why
};

// Why a control carries Mark::NotRead.
enum class NotRead {
    EndedEarly,  // the poll ended before it reached this control
    PortNotOpen, // the poll could not open the port
    NeverPolled, // no poll yet: the control shows its start-up value
};

} // namespace hv52
