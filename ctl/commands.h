#pragma once
// The commands of hv52ctl, each in a file of its own, and their one table.
// Each checks all its words and options first and only then opens the port:
// a bad command line sends nothing.
#include "command.h"
#include "options.h"

namespace hv52ctl {

int readCommand(const Options &o);
int setCommand(const Options &o);
int resetCommand(const Options &o);
int saveCommand(const Options &o);
int applyCommand(const Options &o);
int watchCommand(const Options &o);
int scanCommand(const Options &o);
int commissionCommand(const Options &o);
int verifyCommand(const Options &o);

// Every command, in the order the help lists them.
const CommandTable &commandTable();

} // namespace hv52ctl
