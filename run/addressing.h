#pragma once
// The numbers, address lists and endpoints of a run as an operator writes
// them, on hv52ctl's command line, in a plan or in the line window's boxes,
// each checked with a message naming where it was written.
#include <QList>
#include <QString>

namespace hv52run {

// A whole number in [low, high] or UsageError naming the option. Blanks and
// leading zeros as everywhere else (wholeNumberText).
int wholeNumber(const QString &option, const QString &text, int low, int high);
// One of the modules' line speeds, or UsageError naming the option.
int standardSpeed(const QString &option, const QString &text);

// "1-10,17,20-30" -> the addresses in order, each 1..247 once; messages name
// `option`.
QList<int> parseAddressRange(const QString &text, const QString &option = QStringLiteral("--addresses"));

// "192.168.1.10:502", "[::1]:502" -> host and port; UsageError naming the
// option otherwise.
void parseEndpoint(const QString &option, const QString &text, QString *host, quint16 *port);

} // namespace hv52run
