#pragma once
// What hv52ctl tells of itself, made from its tables: the --help text and
// the words its bash completion offers (completion/hv52ctl.bash, kept equal
// to these by a test).
#include "command.h"

#include <QString>
#include <QStringList>

namespace hv52ctl {

// The --help text.
QString helpText(const CommandTable &commands);

struct CompletionWords
{
    QStringList commands; // _hv52ctl_commands
    QStringList options;  // _hv52ctl_options: the options the help lists
    QStringList valued;   // _hv52ctl_valued: every option that takes a value
    // The options of one command offered after it (set ... analog: --type ...).
    QStringList optionsOf(const CommandTable &table, const QString &command) const;
};
CompletionWords completionWords(const CommandTable &commands);

} // namespace hv52ctl
