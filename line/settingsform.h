#pragma once
// The settings of one module kind for a whole line, with the controls, lists
// and limits of the module's own window: a list for each relay command,
// signal type and source, a text box for each limit (in its source's unit).
// A control shows a value the operator chose, read from a meter or opened
// from a settings file; until then it carries the grey mark and nothing of
// its setting is sent.
#include "module.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QVector>
#include <QWidget>

class QComboBox;
class QLineEdit;

namespace hv52line {

class SettingsForm : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsForm(const hv52::ModuleDef &def, QWidget *parent = nullptr);

    const hv52::ModuleDef &module() const { return m_def; }
    // Whether the kind has settings to write at all (a T540 has none).
    bool hasSettings() const { return !m_controls.isEmpty(); }

    // The settings chosen, as a settings file writes them ("module" and each
    // setting whose controls all show a chosen value); an empty object when
    // none is. A setting chosen in part gives a refusal naming what is not
    // chosen, and no object.
    QJsonObject chosen(QString *refusal) const;
    // Fills every control a settings object names (a settings file's, a
    // plan's), each then chosen. The object is checked first: false with
    // `refusal` set, and nothing changed, when it could not be written.
    bool fill(const QJsonObject &settings, const QString &where, QString *refusal);
    // Fills the controls from a meter's poll: each setting read is chosen,
    // a failed read marked failed (not chosen).
    void fill(const QVector<hv52::Reading> &readings);
    // Every control back to its mark: nothing chosen.
    void clear();

    // The control of a poll point ("analog1.upper"), for the tests.
    QWidget *control(const QString &key) const;

signals:
    void changed();

private:
    struct Control
    {
        const hv52::Point *point;
        QComboBox *list = nullptr;
        QLineEdit *text = nullptr;
        QWidget *widget() const;
    };
    void setText(const Control &c, const QString &text);
    bool isChosen(const Control &c) const;

    const hv52::ModuleDef &m_def;
    QVector<Control> m_controls;             // in poll order
    QVector<QVector<int>> m_settingControls; // each readable setting's controls
    QVector<const hv52::Setting *> m_settings;
};

} // namespace hv52line
