#pragma once
// One line in the line window: where it is (a serial port and its speed, or
// a gateway), its response timeout, the scan of an address range, a row for
// each module found, the settings by kind, and a run over the checked rows
// with each row's step and outcome.
#include "linerunner.h"
#include "settingsform.h"

#include "line.h"
#include "record.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QWidget>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;

namespace hv52line {

class LinePane : public QWidget
{
    Q_OBJECT
public:
    explicit LinePane(QWidget *parent = nullptr);

    // The one message box of the tools, or the tests' stand-in.
    void setMessenger(std::function<bool(const QString &, bool)> messenger) { m_say = std::move(messenger); }

    bool busy() const { return m_runner.busy(); }
    // The line as a plan writes it ({"port": 3, "speed": 9600, "timeout":
    // 1000}), checked as hv52ctl checks a plan's line, and read into `line`
    // when given; empty with `refusal`.
    QJsonObject lineObject(QString *refusal, hv52::Line *line = nullptr) const;
    hv52::Line line(QString *refusal) const;
    // The checked rows as a plan's meters, each with its kind's settings
    // chosen; empty with `refusal` when one cannot be sent.
    QJsonArray meters(QString *refusal) const;

    // Fills the window from a plan's line and meters (settings inline, or
    // files relative to `folder`): false with `refusal`, nothing changed.
    bool load(const QJsonObject &line, const QJsonArray &meters, const QDir &folder, QString *refusal);

    // Scans the address range typed (1-247 unless told otherwise).
    void scan();
    // Commissions (or audits) the checked rows; false with a message when
    // nothing could start. `site` and `operatorName` go into the record.
    bool startRun(bool audit, const QString &site, const QString &operatorName);
    // The operator's stop: the work in progress ends at its next stopping
    // point.
    void stop();

    bool hasRecord() const { return m_hasRecord; }
    const hv52::RunRecord &record() const { return m_record; }
    bool lastRunAudit() const { return m_lastAudit; }

    // For the tests and the window.
    QTableWidget *table() const { return m_table; }
    SettingsForm *form(const QString &kind) const { return m_forms.value(kind); }
    QComboBox *placeKind() const { return m_kind; }
    QSpinBox *portNumber() const { return m_port; }
    QComboBox *speed() const { return m_speed; }
    QLineEdit *host() const { return m_host; }
    QSpinBox *tcpPort() const { return m_tcpPort; }
    QSpinBox *timeout() const { return m_timeout; }
    QLineEdit *addresses() const { return m_addresses; }
    QPushButton *scanButton() const { return m_scanButton; }
    QPlainTextEdit *details() const { return m_details; }
    QProgressBar *progress() const { return m_progress; }
    // "地址 7  T516  完成并核对": a row's text, for the tests.
    QString rowText(int row) const;

signals:
    void busyChanged(bool busy);
    // A run's end, its record in record().
    void runEnded();
    void scanEnded();

private:
    enum Column {
        Address,
        Kind,
        Answer,
        State,
        Columns
    };
    int rowOf(int address) const;
    int addRow(int address, const QString &module);
    void setRow(int row, Column column, const QString &text, const QString &tip = QString());
    void placeChanged();
    void setBusy(bool busy);
    void readSettings(const QString &kind);
    void openSettings(const QString &kind);
    void say(const QString &text) const;
    void note(const QString &text);

    LineRunner m_runner;
    std::function<bool(const QString &, bool)> m_say;
    QComboBox *m_kind;
    QSpinBox *m_port;
    QComboBox *m_speed;
    QLineEdit *m_host;
    QSpinBox *m_tcpPort;
    QSpinBox *m_timeout;
    QLineEdit *m_addresses;
    QPushButton *m_scanButton;
    QProgressBar *m_progress;
    QLabel *m_left;
    QTableWidget *m_table;
    QTabWidget *m_kinds;
    QMap<QString, SettingsForm *> m_forms;
    QPlainTextEdit *m_details;

    QElapsedTimer m_clock;
    QVector<int> m_runRows; // the table row of each meter of the run
    bool m_hasRecord = false;
    bool m_lastAudit = false;
    hv52::RunRecord m_record;
};

} // namespace hv52line
