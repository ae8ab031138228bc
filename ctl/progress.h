#pragma once
// The progress line of a long run (a scan, a line of meters): on a console
// only, rewritten in place on standard error, so that a file or pipe gets
// none of it. On a line of a site it is the line's status row.
#include <QString>

namespace hv52ctl {

class Progress
{
public:
    Progress();
    bool shown() const { return m_on; }
    // Replaces the line with `text`.
    void show(const QString &text);
    // Empties the line, before a message of its own is printed there.
    void clear();

private:
    bool m_on;
};

} // namespace hv52ctl
