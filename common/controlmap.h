#pragma once
// Which window control shows or supplies each value of a module: the link
// and the module definitions know registers and values, the windows know
// their controls, and this map joins the two by the points' keys.
#include <QHash>
#include <QString>
#include <optional>

namespace hv52 {

// The window element that shows or supplies a value: Label1(index) or
// Combo1(index).
struct Target
{
    enum Kind {
        Cell,
        List
    } kind;
    int index;
};

class ControlMap
{
public:
    // The controls every tool gives its inputs and relays. Input n (from 0):
    // count, state and ON time in Label1(13 + 3n .. 15 + 3n), mode in
    // Combo1(n). Relay k: count and state in Label1(19 + 2k) and
    // Label1(20 + 2k), command in Combo1(2 + k).
    static ControlMap inputsAndRelays(int inputs, int relays);

    // Maps the point `key` to `target`; a key mapped before takes the new one.
    void add(const QString &key, Target target) { m_targets.insert(key, target); }
    // The control of the point `key`, if the window has one.
    std::optional<Target> find(const QString &key) const;

private:
    QHash<QString, Target> m_targets;
};

} // namespace hv52
