#include "linepane.h"

#include "addressing.h"
#include "input.h"
#include "interrupt.h"
#include "linescan.h"
#include "planfile.h"
#include "runstatus.h"

#include "kinds.h"
#include "linespeed.h"
#include "look.h"
#include "messagebox.h"
#include "recordparts.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace hv52line {

using namespace hv52;

namespace {

enum PlaceKind {
    Serial,
    SerialServer,
    ModbusGateway
};

// hv52ctl scan's own timeout for one address: a dead line's scan takes as
// long in the window as on the command line.
const int kScanTimeoutMs = hv52run::ScanRange().timeoutMs;

QString secondsLeft(qint64 elapsedMs, int done, int total)
{
    if (done <= 0 || total <= done)
        return QString();
    const qint64 left = elapsedMs * (total - done) / done;
    return QStringLiteral("剩余约 %1 秒").arg((left + 999) / 1000);
}

} // namespace

LinePane::LinePane(QWidget *parent)
    : QWidget(parent), m_say([this](const QString &text, bool ask) { return showMessageBox(this, text, ask); })
{
    auto *top = new QVBoxLayout(this);

    // The line.
    auto *lineBox = new QGroupBox(QStringLiteral("线路"), this);
    auto *lineRow = new QHBoxLayout(lineBox);
    m_kind = new QComboBox(lineBox);
    m_kind->addItems(
        {QStringLiteral("串口"), QStringLiteral("串口服务器（RTU over TCP）"), QStringLiteral("Modbus TCP 网关")});
    m_port = new QSpinBox(lineBox);
    m_port->setRange(1, 32767);
    m_port->setPrefix(QStringLiteral("COM"));
    m_speed = new QComboBox(lineBox);
    for (int s : kStandardSpeeds)
        m_speed->addItem(QString::number(s), s);
    m_speed->setCurrentText(QStringLiteral("9600"));
    m_host = new QLineEdit(lineBox);
    m_host->setMaxLength(253);
    m_host->setPlaceholderText(QStringLiteral("主机，如 192.168.1.10"));
    m_tcpPort = new QSpinBox(lineBox);
    m_tcpPort->setRange(1, 65535);
    m_tcpPort->setValue(502);
    m_timeout = new QSpinBox(lineBox);
    m_timeout->setRange(1, 60000);
    m_timeout->setValue(1000);
    m_timeout->setSuffix(QStringLiteral(" 毫秒"));
    lineRow->addWidget(m_kind);
    lineRow->addWidget(new QLabel(QStringLiteral("串口号"), lineBox));
    lineRow->addWidget(m_port);
    lineRow->addWidget(new QLabel(QStringLiteral("波特率"), lineBox));
    lineRow->addWidget(m_speed);
    lineRow->addWidget(new QLabel(QStringLiteral("主机"), lineBox));
    lineRow->addWidget(m_host, 1);
    lineRow->addWidget(new QLabel(QStringLiteral("端口"), lineBox));
    lineRow->addWidget(m_tcpPort);
    lineRow->addWidget(new QLabel(QStringLiteral("应答超时"), lineBox));
    lineRow->addWidget(m_timeout);
    top->addWidget(lineBox);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &LinePane::placeChanged);
    placeChanged();

    // The scan.
    auto *scanRow = new QHBoxLayout;
    auto *range = new QLabel(QStringLiteral("地址范围(&D)"), this);
    scanRow->addWidget(range);
    m_addresses = new QLineEdit(QStringLiteral("1-247"), this);
    range->setBuddy(m_addresses);
    m_addresses->setMaxLength(1000);
    scanRow->addWidget(m_addresses);
    m_scanButton = new QPushButton(QStringLiteral("扫描(&S)"), this);
    scanRow->addWidget(m_scanButton);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    scanRow->addWidget(m_progress, 1);
    m_left = new QLabel(this);
    m_left->setMinimumWidth(110);
    scanRow->addWidget(m_left);
    top->addLayout(scanRow);
    connect(m_scanButton, &QPushButton::clicked, this, &LinePane::scan);

    auto *split = new QSplitter(Qt::Vertical, this);
    m_table = new QTableWidget(0, Columns, split);
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("地址"), QStringLiteral("型号"), QStringLiteral("应答"), QStringLiteral("步骤与结果")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);

    // The settings by kind, each with its two sources.
    m_kinds = new QTabWidget(split);
    for (const ModuleKind &kind : moduleKinds()) {
        auto *page = new QWidget(m_kinds);
        auto *v = new QVBoxLayout(page);
        auto *form = new SettingsForm(kind.def(), page);
        m_forms.insert(kind.name, form);
        auto *buttons = new QHBoxLayout;
        auto *read = new QPushButton(QStringLiteral("从表计读取"), page);
        read->setObjectName(kind.name + QStringLiteral(".read"));
        auto *open = new QPushButton(QStringLiteral("打开设置文件…"), page);
        open->setObjectName(kind.name + QStringLiteral(".open"));
        auto *clear = new QPushButton(QStringLiteral("清除选择"), page);
        buttons->addWidget(read);
        buttons->addWidget(open);
        buttons->addWidget(clear);
        buttons->addStretch(1);
        read->setEnabled(form->hasSettings());
        open->setEnabled(form->hasSettings());
        clear->setEnabled(form->hasSettings());
        v->addLayout(buttons);
        v->addWidget(form, 1);
        m_kinds->addTab(page, kind.label());
        const QString name = kind.name;
        connect(read, &QPushButton::clicked, this, [this, name] { readSettings(name); });
        connect(open, &QPushButton::clicked, this, [this, name] { openSettings(name); });
        connect(clear, &QPushButton::clicked, form, &SettingsForm::clear);
    }
    m_details = new QPlainTextEdit(split);
    m_details->setReadOnly(true);
    m_details->setMaximumBlockCount(5000); // a bound on what a long run keeps
    m_details->setPlaceholderText(QStringLiteral("详细信息：每台表计的提示与错误"));
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setStretchFactor(2, 1);
    top->addWidget(split, 1);

    connect(m_table, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (row < 0)
            return;
        const QTableWidgetItem *kind = m_table->item(row, Kind);
        const int tab = kind ? m_kinds->indexOf(m_forms.value(kind->text().toLower())->parentWidget()) : -1;
        if (tab >= 0)
            m_kinds->setCurrentIndex(tab);
    });

    // The runner's words.
    connect(&m_runner, &LineRunner::message, this, &LinePane::note);
    connect(&m_runner, &LineRunner::idle, this, [this] { setBusy(false); });
    connect(&m_runner, &LineRunner::scanAt, this, [this](int done, int total, int address) {
        m_progress->setRange(0, total);
        m_progress->setValue(done);
        m_progress->setFormat(QStringLiteral("地址 %1  %v/%m").arg(address));
        m_left->setText(secondsLeft(m_clock.elapsed(), done, total));
    });
    connect(&m_runner, &LineRunner::found, this, [this](int address, const QString &module) {
        const int row = addRow(address, module);
        setRow(row, Answer, QStringLiteral("有应答"));
    });
    connect(&m_runner, &LineRunner::scanEnded, this, [this](const QList<int> &late, const QString &failure) {
        for (int address : late) {
            int row = rowOf(address);
            if (row < 0)
                row = addRow(address, QStringLiteral("unknown"));
            setRow(row, Answer, QStringLiteral("应答迟到"),
                   QStringLiteral("应答晚于扫描超时：请加大应答超时后再调试这台表计"));
        }
        m_progress->setValue(m_progress->maximum());
        m_left->clear();
        const bool cut = hv52run::Interrupt::arrived();
        int answered = 0;
        for (int row = 0; row < m_table->rowCount(); ++row)
            answered += m_table->item(row, Answer)->text() == u"有应答";
        QString text = QStringLiteral("扫描%1：找到 %2 个模块")
                           .arg(cut || !failure.isEmpty() ? QStringLiteral("未完成") : QStringLiteral("完成"))
                           .arg(answered);
        if (!late.isEmpty())
            text += QStringLiteral("，%1 个应答迟到").arg(late.size());
        if (cut)
            text = hv52run::Interrupt::text() + QStringLiteral("，") + text;
        else if (!failure.isEmpty() && !m_details->toPlainText().isEmpty())
            text += QStringLiteral("（%1）").arg(m_details->toPlainText().section(u'\n', -1));
        emit scanEnded();
        say(text + QStringLiteral("。"));
    });
    connect(&m_runner, &LineRunner::step, this, [this](int index, const QString &text) {
        if (index < m_runRows.size())
            setRow(m_runRows[index], State, text);
    });
    connect(&m_runner, &LineRunner::meterDone, this, [this](int index, const MeterRecord &m) {
        if (index >= m_runRows.size())
            return;
        setRow(m_runRows[index], State, recordparts::resultText(m), m.failures.join(u'\n'));
        m_progress->setValue(index + 1);
        m_left->setText(secondsLeft(m_clock.elapsed(), index + 1, int(m_runRows.size())));
    });
    connect(&m_runner, &LineRunner::runEnded, this, [this](const RunRecord &record, const QString &) {
        m_record = record;
        m_hasRecord = true;
        for (int i = 0; i < record.meters.size() && i < m_runRows.size(); ++i) {
            if (record.meters[i].result == MeterRecord::Result::NotReached)
                setRow(m_runRows[i], State, recordparts::resultText(record.meters[i]),
                       record.meters[i].failures.join(u'\n'));
        }
        m_progress->setValue(m_progress->maximum());
        m_left->clear();
        emit runEnded();
    });
    connect(&m_runner, &LineRunner::polled, this, [this](const QVector<Reading> &readings, const QString &failure) {
        if (readings.isEmpty()) {
            say(QStringLiteral("读取设置失败：%1").arg(failure.isEmpty() ? QStringLiteral("没有读到值") : failure));
            return;
        }
        SettingsForm *form = nullptr;
        for (SettingsForm *f : std::as_const(m_forms)) {
            if (readings.first().point && f->module().point(readings.first().point->key) == readings.first().point)
                form = f;
        }
        if (!form)
            return;
        form->fill(readings);
        const int failed =
            int(std::count_if(readings.begin(), readings.end(), [](const Reading &r) { return !r.ok(); }));
        say(failed == 0 && failure.isEmpty()
                ? QStringLiteral("已从表计读取 %1 的设置。").arg(form->module().name.toUpper())
                : QStringLiteral("已从表计读取 %1 的设置，%2 项读取失败（标为红色，不会写入）%3。")
                      .arg(form->module().name.toUpper())
                      .arg(failed)
                      .arg(failure.isEmpty() ? QString() : QStringLiteral("：") + failure));
    });
}

void LinePane::placeChanged()
{
    const bool serial = m_kind->currentIndex() == Serial;
    m_port->setEnabled(serial);
    m_speed->setEnabled(serial || m_kind->currentIndex() == SerialServer);
    m_host->setEnabled(!serial);
    m_tcpPort->setEnabled(!serial);
}

void LinePane::say(const QString &text) const
{
    m_say(text, false);
}

void LinePane::note(const QString &text)
{
    m_details->appendPlainText(text);
}

void LinePane::setBusy(bool busy)
{
    m_scanButton->setEnabled(!busy);
    for (QWidget *w :
         std::initializer_list<QWidget *>{m_kind, m_port, m_speed, m_host, m_tcpPort, m_timeout, m_addresses, m_kinds})
        w->setEnabled(!busy);
    if (!busy)
        placeChanged();
    emit busyChanged(busy);
}

QJsonObject LinePane::lineObject(QString *refusal, Line *line) const
{
    QJsonObject out;
    switch (m_kind->currentIndex()) {
    case Serial:
        out.insert(QStringLiteral("port"), m_port->value());
        break;
    default: {
        const QString host = m_host->text().trimmed();
        if (host.isEmpty()) {
            *refusal = QStringLiteral("请填写网关的主机（如 192.168.1.10），请求未发送。");
            return {};
        }
        const QString endpoint = (host.contains(u':') ? QStringLiteral("[%1]").arg(host) : host)
                                 + QStringLiteral(":%1").arg(m_tcpPort->value());
        out.insert(m_kind->currentIndex() == ModbusGateway ? QStringLiteral("modbus_tcp") : QStringLiteral("tcp"),
                   endpoint);
    }
    }
    if (m_kind->currentIndex() != ModbusGateway)
        out.insert(QStringLiteral("speed"), m_speed->currentData().toInt());
    out.insert(QStringLiteral("timeout"), m_timeout->value());
    Line checked;
    try {
        hv52run::takeLine(out, line ? *line : checked, {}, QStringLiteral("线路"));
    } catch (const hv52run::UsageError &e) {
        *refusal = e.text();
        return {};
    }
    return out;
}

Line LinePane::line(QString *refusal) const
{
    Line line;
    lineObject(refusal, &line);
    return line;
}

int LinePane::rowOf(int address) const
{
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_table->item(row, Address)->data(Qt::UserRole).toInt() == address)
            return row;
    }
    return -1;
}

int LinePane::addRow(int address, const QString &module)
{
    int row = rowOf(address);
    if (row < 0) {
        // In address order.
        row = 0;
        while (row < m_table->rowCount() && m_table->item(row, Address)->data(Qt::UserRole).toInt() < address)
            ++row;
        m_table->insertRow(row);
        auto *item = new QTableWidgetItem(QString::number(address));
        item->setData(Qt::UserRole, address);
        m_table->setItem(row, Address, item);
        for (int c = Kind; c < Columns; ++c)
            m_table->setItem(row, c, new QTableWidgetItem);
    }
    const bool known = moduleKind(module) != nullptr;
    QTableWidgetItem *item = m_table->item(row, Address);
    item->setFlags(known ? (Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable)
                         : (Qt::ItemIsEnabled | Qt::ItemIsSelectable));
    item->setData(Qt::CheckStateRole, known ? QVariant(Qt::Checked) : QVariant());
    setRow(row, Kind, known ? module.toUpper() : QStringLiteral("未知"),
           known ? QString() : QStringLiteral("型号未知：这台表计不能调试"));
    return row;
}

void LinePane::setRow(int row, Column column, const QString &text, const QString &tip)
{
    QTableWidgetItem *item = m_table->item(row, column);
    item->setText(text);
    item->setToolTip(tip);
}

QString LinePane::rowText(int row) const
{
    QStringList cells;
    for (int c = 0; c < Columns; ++c)
        cells << m_table->item(row, c)->text();
    return cells.join(QStringLiteral("  "));
}

void LinePane::scan()
{
    if (busy())
        return;
    QString refusal;
    const Line place = line(&refusal);
    QList<int> addresses;
    if (refusal.isEmpty()) {
        try {
            addresses = hv52run::parseAddressRange(m_addresses->text(), QStringLiteral("地址范围"));
        } catch (const hv52run::UsageError &e) {
            refusal = e.text();
        }
    }
    if (!refusal.isEmpty()) {
        say(refusal);
        return;
    }
    hv52run::Interrupt::forgetOperatorStop();
    m_table->setRowCount(0);
    m_details->clear();
    m_progress->setRange(0, int(addresses.size()));
    m_progress->setValue(0);
    m_clock.start();
    setBusy(true);
    m_runner.scan(place, addresses, kScanTimeoutMs);
}

QJsonArray LinePane::meters(QString *refusal) const
{
    QJsonArray out;
    QHash<QString, QJsonObject> settings;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const QTableWidgetItem *item = m_table->item(row, Address);
        if (item->checkState() != Qt::Checked)
            continue;
        const QString kind = m_table->item(row, Kind)->text().toLower();
        if (!settings.contains(kind)) {
            settings.insert(kind, m_forms.value(kind)->chosen(refusal));
            if (!refusal->isEmpty())
                return {};
        }
        QJsonObject meter{{QStringLiteral("address"), item->data(Qt::UserRole).toInt()},
                          {QStringLiteral("module"), kind}};
        if (!settings.value(kind).isEmpty())
            meter.insert(QStringLiteral("settings"), settings.value(kind));
        out << meter;
    }
    if (out.isEmpty())
        *refusal = QStringLiteral("没有勾选的表计：请先扫描或打开计划，并勾选要调试的表计。");
    return out;
}

bool LinePane::startRun(bool audit, const QString &site, const QString &operatorName)
{
    if (busy())
        return false;
    QString refusal;
    const Line place = line(&refusal);
    QJsonArray list;
    if (refusal.isEmpty())
        list = meters(&refusal);
    hv52run::RunPlan plan;
    if (refusal.isEmpty()) {
        // The plan as hv52ctl reads it, entry by entry.
        try {
            QStringList inputs;
            plan.meters = hv52run::metersOf(list, QDir::current(), QStringLiteral("线路调试"), &inputs);
        } catch (const hv52run::UsageError &e) {
            refusal = e.text();
        }
    }
    if (!refusal.isEmpty()) {
        say(refusal);
        return false;
    }
    plan.command = audit ? QStringLiteral("verify") : QStringLiteral("commission");
    plan.site = site;
    plan.operatorName = operatorName;
    m_runRows.clear();
    for (const hv52run::MeterPlan &m : plan.meters) {
        const int row = rowOf(m.address);
        m_runRows << row;
        setRow(row, State, QStringLiteral("等待"));
    }
    m_lastAudit = audit;
    m_hasRecord = false;
    m_details->clear();
    m_progress->setRange(0, int(plan.meters.size()));
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("%v/%m"));
    m_clock.start();
    setBusy(true);
    m_runner.run(place, plan, audit);
    return true;
}

void LinePane::stop()
{
    if (busy())
        hv52run::Interrupt::stopByOperator();
}

void LinePane::readSettings(const QString &kind)
{
    if (busy())
        return;
    QString refusal;
    const Line place = line(&refusal);
    // The selected row when it is of this kind, else the first of this kind.
    int address = 0;
    const int current = m_table->currentRow();
    if (current >= 0 && m_table->item(current, Kind)->text().toLower() == kind)
        address = m_table->item(current, Address)->data(Qt::UserRole).toInt();
    for (int row = 0; row < m_table->rowCount() && !address; ++row) {
        if (m_table->item(row, Kind)->text().toLower() == kind)
            address = m_table->item(row, Address)->data(Qt::UserRole).toInt();
    }
    if (refusal.isEmpty() && !address)
        refusal = QStringLiteral("线路上没有 %1：请先扫描，或选中一台 %1 的表计。").arg(kind.toUpper());
    if (!refusal.isEmpty()) {
        say(refusal);
        return;
    }
    hv52run::Interrupt::forgetOperatorStop();
    m_details->clear();
    note(QStringLiteral("从地址 %1 读取 %2 的设置").arg(address).arg(kind.toUpper()));
    setBusy(true);
    m_runner.poll(place, address, &m_forms.value(kind)->module());
}

void LinePane::openSettings(const QString &kind)
{
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("打开 %1 的设置文件").arg(kind.toUpper()),
                                                      QString(), QStringLiteral("设置文件 (*.json)"));
    if (file.isEmpty())
        return;
    QString refusal;
    try {
        const QJsonObject object =
            hv52run::jsonObject(hv52run::readInputFile(file), QStringLiteral("文件 %1").arg(file));
        m_forms.value(kind)->fill(object, file, &refusal);
    } catch (const hv52run::UsageError &e) {
        refusal = e.text();
    }
    if (!refusal.isEmpty())
        say(refusal);
}

bool LinePane::load(const QJsonObject &lineJson, const QJsonArray &list, const QDir &folder, QString *refusal)
{
    Line place;
    QHash<QString, QJsonObject> byKind;
    QHash<QString, int> firstOf;
    QVector<std::pair<int, QString>> rows;
    try {
        hv52run::takeLine(lineJson, place, {}, QStringLiteral("计划的线路"));
        if (!place.hasPlace())
            throw hv52run::UsageError(QStringLiteral("计划的线路缺少 port、tcp 或 modbus_tcp。"));
        if (!place.device.isEmpty())
            throw hv52run::UsageError(
                QStringLiteral("计划的线路是串口设备 %1：本窗口按串口号打开串口，请用 port。").arg(place.device));
        QStringList inputs;
        hv52run::metersOf(list, folder, QStringLiteral("计划"), &inputs); // every entry checked as hv52ctl does
        for (const QJsonValue &v : list) {
            const QJsonObject m = v.toObject();
            const QString kind = m.value(QStringLiteral("module")).toString();
            const QJsonValue a = m.value(QStringLiteral("address"));
            const QList<int> addresses = a.isString()
                                             ? hv52run::parseAddressRange(a.toString(), QStringLiteral("address"))
                                             : QList<int>{a.toInt()};
            QJsonObject settings;
            const QJsonValue s = m.value(QStringLiteral("settings"));
            if (s.isObject()) {
                settings = s.toObject();
            } else if (s.isString()) {
                const QString file = folder.absoluteFilePath(s.toString());
                settings = hv52run::jsonObject(hv52run::readInputFile(file), QStringLiteral("文件 %1").arg(file));
            }
            settings.remove(QStringLiteral("module"));
            if (firstOf.contains(kind) && byKind.value(kind) != settings)
                throw hv52run::UsageError(
                    QStringLiteral("计划中 %1 的表计设置不同（地址 %2 与地址 %3）：本窗口按型号设置，"
                                   "请用 hv52ctl 调试这份计划。")
                        .arg(kind.toUpper())
                        .arg(firstOf.value(kind))
                        .arg(addresses.first()));
            if (!firstOf.contains(kind)) {
                firstOf.insert(kind, addresses.first());
                byKind.insert(kind, settings);
            }
            for (int address : addresses)
                rows << std::pair{address, kind};
        }
    } catch (const hv52run::UsageError &e) {
        *refusal = e.text();
        return false;
    }
    for (auto it = byKind.begin(); it != byKind.end(); ++it) {
        SettingsForm *form = m_forms.value(it.key());
        if (it.value().isEmpty()) {
            form->clear();
            continue;
        }
        QJsonObject settings = it.value();
        settings.insert(QStringLiteral("module"), it.key());
        if (!form->fill(settings, QStringLiteral("计划"), refusal))
            return false;
    }
    if (place.isTcp()) {
        m_kind->setCurrentIndex(place.modbusTcp ? ModbusGateway : SerialServer);
        m_host->setText(place.tcpHost);
        m_tcpPort->setValue(place.tcpPort);
    } else {
        m_kind->setCurrentIndex(Serial);
        m_port->setValue(place.port);
    }
    m_speed->setCurrentText(QString::number(place.speed));
    m_timeout->setValue(place.timeoutMs);
    m_table->setRowCount(0);
    for (const auto &[address, kind] : rows)
        addRow(address, kind);
    placeChanged();
    return true;
}

} // namespace hv52line
