#include "settingsform.h"

#include "controlmarks.h"
#include "convert.h"
#include "frames.h"
#include "input.h"
#include "look.h"
#include "runstatus.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDoubleValidator>
#include <QGridLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>

namespace hv52line {

using namespace hv52;

namespace {

const QString kNotChosen = QStringLiteral("尚未选择：从表计读取、打开设置文件或选择一个值，此前这一项不会写入");

QStringList entriesOf(const Point &point)
{
    return point.show == Show::RelayCommand ? kRelayCommandTexts : point.listTexts();
}

// A checked settings file's value as its control shows it: every word
// hv52ctl takes for a list ("host", "4-20mA", a source's number) becomes
// the list's own entry.
QString shownText(const Point &point, const QJsonValue &v)
{
    const QString text =
        v.isString() ? v.toString() : QString::number(v.toDouble(), 'f', QLocale::FloatingPointShortest);
    const QString what = point.caption();
    switch (point.show) {
    case Show::RelayCommand:
        return relayCommandText(hv52run::relayCommandWord(what, text)).value_or(text);
    case Show::SignalType:
        return point.listTexts().value(hv52run::signalTypeWord(what, text));
    case Show::Source:
        return point.listTexts().value(hv52run::sourceWord(what, text));
    default:
        return text;
    }
}

} // namespace

QWidget *SettingsForm::Control::widget() const
{
    return list ? static_cast<QWidget *>(list) : static_cast<QWidget *>(text);
}

SettingsForm::SettingsForm(const ModuleDef &def, QWidget *parent) : QWidget(parent), m_def(def)
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    m_settings = hv52run::readableSettings(def);
    int row = 0;
    for (const Setting *setting : m_settings) {
        QVector<int> mine;
        const QVector<int> indices = hv52run::pollIndices(def, *setting);
        grid->addWidget(new QLabel(def.poll[indices.first()].row, this), row, 0);
        int column = 1;
        for (int index : indices) {
            const Point &point = def.poll[index];
            Control c{&point};
            if (point.show == Show::Limit) {
                c.text = new QLineEdit(this);
                c.text->setMaxLength(12);
                c.text->setObjectName(point.key);
                connect(c.text, &QLineEdit::textEdited, this, [this, w = c.text] {
                    ControlMarks::setMark(w, Mark::None);
                    emit changed();
                });
            } else {
                c.list = new QComboBox(this);
                c.list->addItems(entriesOf(point));
                c.list->setEditable(false);
                c.list->setObjectName(point.key);
                c.list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
                c.list->view()->setFont(look::listFont(9));
                connect(c.list, &QComboBox::activated, this, [this, w = c.list] {
                    ControlMarks::setMark(w, Mark::None);
                    emit changed();
                });
            }
            grid->addWidget(new QLabel(point.column, this), row, column++);
            grid->addWidget(c.widget(), row, column++);
            mine << int(m_controls.size());
            m_controls << c;
        }
        m_settingControls << mine;
        ++row;
    }
    if (m_settings.isEmpty())
        grid->addWidget(
            new QLabel(QStringLiteral("%1 没有可写入的设置：调试时只召测并记录。").arg(def.name.toUpper()), this), 0,
            0);
    grid->setColumnStretch(grid->columnCount(), 1);
    grid->setRowStretch(row + 1, 1);
    clear();
}

QWidget *SettingsForm::control(const QString &key) const
{
    for (const Control &c : m_controls) {
        if (c.point->key == key)
            return c.widget();
    }
    return nullptr;
}

void SettingsForm::clear()
{
    for (const Control &c : m_controls) {
        if (c.list)
            c.list->setCurrentIndex(0);
        else
            c.text->setText(QStringLiteral("0"));
        ControlMarks::setMark(c.widget(), Mark::NotRead, kNotChosen);
    }
    emit changed();
}

bool SettingsForm::isChosen(const Control &c) const
{
    return ControlMarks::markOf(c.widget()) == Mark::None;
}

void SettingsForm::setText(const Control &c, const QString &text)
{
    // A text no entry has leaves the list on its first entry: such a control
    // is never left chosen (fill() gives only list entries).
    if (c.list)
        c.list->setCurrentIndex(std::max(0, int(c.list->findText(text))));
    else
        c.text->setText(text);
}

QJsonObject SettingsForm::chosen(QString *refusal) const
{
    QJsonObject out;
    for (int s = 0; s < m_settings.size(); ++s) {
        QStringList chosenNames, open;
        for (int i : m_settingControls[s]) {
            const Control &c = m_controls[i];
            (isChosen(c) ? chosenNames : open) << c.point->caption();
        }
        if (chosenNames.isEmpty())
            continue;
        if (!open.isEmpty()) {
            *refusal = QStringLiteral("%1 的 %2 尚未选择（%3 的 %4 个值一起写入）：请选择或从表计读取，请求未发送。")
                           .arg(m_def.name.toUpper(), open.join(QStringLiteral("、")), m_settings[s]->name)
                           .arg(m_settingControls[s].size());
            return {};
        }
        for (int i : m_settingControls[s]) {
            const Control &c = m_controls[i];
            if (c.list) {
                out.insert(c.point->key, c.list->currentText());
                continue;
            }
            const QString typed = c.text->text().trimmed();
            bool number = false;
            const double value = QLocale::c().toDouble(typed, &number);
            if (!number) {
                *refusal = QStringLiteral("%1 的 %2“%3”不是数字，请求未发送。")
                               .arg(m_def.name.toUpper(), c.point->caption(), typed);
                return {};
            }
            out.insert(c.point->key, value);
        }
    }
    if (out.isEmpty())
        return out;
    out.insert(QStringLiteral("module"), m_def.name);
    // The checks of a settings file: limits in range for their source, and so on.
    try {
        hv52run::plannedFromFile(m_def, QJsonDocument(out).toJson(),
                                 QStringLiteral("（%1 的设置）").arg(m_def.name.toUpper()));
    } catch (const hv52run::UsageError &e) {
        *refusal = e.text();
        return {};
    }
    return out;
}

bool SettingsForm::fill(const QJsonObject &settings, const QString &where, QString *refusal)
{
    try {
        hv52run::plannedFromFile(m_def, QJsonDocument(settings).toJson(), where);
    } catch (const hv52run::UsageError &e) {
        *refusal = e.text();
        return false;
    }
    // Every value in its list's words first: nothing changes unless all are.
    QHash<QString, QString> shown;
    try {
        for (const Control &c : m_controls) {
            const QJsonValue v = settings.value(c.point->key);
            if (!v.isUndefined())
                shown.insert(c.point->key, shownText(*c.point, v));
        }
    } catch (const hv52run::UsageError &e) {
        *refusal = QStringLiteral("%1：%2").arg(where, e.text());
        return false;
    }
    clear();
    for (const Control &c : m_controls) {
        if (!shown.contains(c.point->key))
            continue;
        setText(c, shown.value(c.point->key));
        ControlMarks::setMark(c.widget(), Mark::None);
    }
    emit changed();
    return true;
}

void SettingsForm::fill(const QVector<Reading> &readings)
{
    for (const Reading &r : readings) {
        for (const Control &c : m_controls) {
            if (c.point != r.point && c.point->key != r.point->key)
                continue;
            setText(c, r.text);
            if (!r.ok())
                ControlMarks::setMark(
                    c.widget(), Mark::Failed,
                    QStringLiteral("读取失败（%1）：这一项不会写入").arg(outcomeText(r.result.verdict)));
            else if (r.scaleUnknown)
                ControlMarks::setMark(c.widget(), Mark::UnitUnknown,
                                      QStringLiteral("数据源未读到，单位未知：这一项不会写入"));
            else
                ControlMarks::setMark(c.widget(), Mark::None);
        }
    }
    emit changed();
}

} // namespace hv52line
