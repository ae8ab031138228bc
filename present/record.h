#pragma once
// The commissioning record: what a run of hv52ctl, or a window, did to each
// module, kept as data and written for an inspector to sign (HTML), for a
// spreadsheet (CSV) or for a program (JSON). The writers are pure functions
// of the data; writeRecord puts one into a file whole or not at all.
#include "module.h"
#include "report.h"
#include "values.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVector>

namespace hv52 {

// One setting of an audit: the value expected (a plan's, or what an earlier
// record left) beside the value the module holds.
struct CheckedValue
{
    enum class Verdict {
        Match,      // "一致"
        Differs,    // "不一致"
        ReadFailed, // "读取失败"
        NotChecked, // "未核对": what it should hold is not known (reason)
    };
    QString key;                     // "relay1.command"
    QString caption;                 // "继电器1 控制方式"
    QString expectedText, foundText; // as the window shows them; found empty when not read
    QJsonValue expectedJson, foundJson;
    Verdict verdict = Verdict::ReadFailed;
    QString reason; // why it could not be read (ReadFailed) or compared (NotChecked)

    // "一致", "不一致（计划 X，模块 Y）", "读取失败（超时无应答）"; `expectedWord`
    // names where the expected value came from ("计划", "记录").
    QString text(const QString &expectedWord) const;
};
// "match", "differs", "read_failed", "not_checked": the JSON words.
QString verdictKey(CheckedValue::Verdict verdict);

// One module: a meter of a commissioning run, or the module of a window.
struct MeterRecord
{
    enum class Result {
        Done,        // read, every setting written and read back equal: "完成并核对"
        Recorded,    // read in full, nothing to write: "已记录"
        NoAnswer,    // not one byte heard: "无应答"
        Incomplete,  // a register of its kind refused (exception 02): "寄存器不全"
        ReadFailed,  // a read failed otherwise: "读取失败"
        NotWritten,  // a register to be written could not be read first: "未写入"
        WriteFailed, // a write failed, or did not read back equal: "写入未完成"
        Matched,     // an audit: read in full, every setting as expected: "一致"
        Drifted,     // an audit: read in full, a setting not as expected: "不一致"
        Unchecked,   // an audit: read in full, as expected where known, a setting not known: "未能核对"
        Stopped,     // the run was ended by a signal while on this meter: "已中断"
        NotReached,  // the run ended before this meter: "未进行"
    };

    int address = 0;
    const ModuleDef *def = nullptr; // the kind it was taken for
    Result result = Result::NotReached;
    QString detail; // said after the result: "可能不是 T516", the first failure...
    QDateTime started;
    qint64 elapsedMs = 0;

    // The whole poll before writing and after; a value that failed or was
    // never reached carries its reason (Value::failure). Empty when that
    // poll was not made (hasBefore / hasAfter false).
    bool hasBefore = false;
    QDateTime beforeTime;
    QVector<Value> before;
    bool hasAfter = false;
    QDateTime afterTime;
    QVector<Value> after;

    // The settings asked and what became of each value (resets included),
    // in the order they were asked.
    QVector<WrittenValue> writes;
    // An audit's comparison, setting by setting (empty for other runs).
    QVector<CheckedValue> checks;
    // Every message of this meter, in the order it came.
    QStringList failures;

    QString kindLabel() const; // "T516"
    bool done() const { return result == Result::Done || result == Result::Recorded || result == Result::Matched; }
};

// "完成并核对", "无应答", ...: the words of a result.
QString resultWords(MeterRecord::Result result);
// The result's words with the detail between `open` and `close`; the detail
// alone where it already begins with them ("已中断（Ctrl-C）", not
// "已中断（已中断（Ctrl-C））").
QString resultWithDetail(const MeterRecord &m, const QString &open, const QString &close = QString());
// "done", "recorded", "no_answer", "incomplete", "read_failed",
// "not_written", "write_failed", "matched", "drifted", "unchecked", "stopped",
// "not_reached": the JSON words.
QString resultKey(MeterRecord::Result result);

struct RunRecord
{
    QString site;         // may be empty
    QString operatorName; // 调试人, may be empty
    QString line;         // "COM1", "/dev/ttyUSB0", "192.168.1.10:4001（串口服务器）"
    int speed = 0;        // bit/s; 0 on Modbus TCP
    // The line as a plan names it, so that a later audit can find it again:
    // {"port": 3}, {"device": "/dev/ttyUSB0"}, {"tcp": "10.0.0.7:4001"} or
    // {"modbus_tcp": "10.0.0.8:502"}; empty when not known (a window).
    QJsonObject place;
    int timeoutMs = 0; // the response timeout of the run; 0 when not known
    QDateTime started; // with its time zone
    QDateTime finished;
    QString tool;    // "hv52ctl", "cfg_t516"
    QString version; // "1.0.0"
    QString command; // "commission", "apply", "read", "window"
    QVector<MeterRecord> meters;
    QString stopped; // why the run ended early; empty when it did not

    bool allDone() const;
    // "30 台：27 台完成并核对，2 台无应答（地址 7、19），1 台寄存器不全（地址 12：可能不是 T516）"
    QString summary() const;
};

// The record as one self-contained, printable HTML page (UTF-8).
QByteArray recordHtml(const RunRecord &record);
// One row per meter and value, UTF-8 with a byte-order mark.
QByteArray recordCsv(const RunRecord &record);
// The same data as hv52ctl's --json report of the run.
QByteArray recordJson(const RunRecord &record);
// The object recordJson writes: a site's record holds one a line.
QJsonObject recordJsonObject(const RunRecord &record);

// "html", "csv" or "json" from a file name's extension (.html/.htm, .csv,
// .json, any case); empty for any other.
QString recordFormat(const QString &file);
// Writes the record in the format of the file's extension through QSaveFile:
// the file is whole or, on any failure, the old one is left as it was. False
// with a Chinese message naming the file and the reason.
bool writeRecord(const QString &file, const RunRecord &record, QString *error);

} // namespace hv52
