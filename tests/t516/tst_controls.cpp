// The three windows against their module definitions: every value a poll
// reads has its control at the index the window's control map gives it, of
// the kind the map names, in the row of the point's row caption and under the
// header of its column. A window that placed a value by an index of its own,
// or a map whose index lands on another control, fails here.
#include "frm_t516.h"
#include "frm_t528.h"
#include "frm_t540.h"
#include "look.h"
#include "textfile.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QSysInfo>
#include <QTest>
#include <memory>

using hv52::Point;
using hv52::Target;
using hv52::ToolWindow;

namespace {

std::unique_ptr<ToolWindow> makeWindow(const QString &tool)
{
    if (tool == QLatin1String("t516"))
        return std::make_unique<frm_T516>();
    if (tool == QLatin1String("t528"))
        return std::make_unique<frm_T528>();
    return std::make_unique<frm_T540>();
}

// The one label among `parent`'s that reads `text`, or null when none or
// several do.
QLabel *onlyLabel(const QWidget *parent, const QString &text)
{
    QLabel *found = nullptr;
    for (QLabel *label : parent->findChildren<QLabel *>()) {
        if (label->text() != text)
            continue;
        if (found)
            return nullptr;
        found = label;
    }
    return found;
}

} // namespace

class ControlsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void everyPolledValueHasItsControl_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("key");
        for (const char *tool : {"t516", "t528", "t540"}) {
            const auto window = makeWindow(QString::fromLatin1(tool));
            for (const Point &point : window->module().poll)
                QTest::addRow("%s %s", tool, qPrintable(point.key)) << QString::fromLatin1(tool) << point.key;
        }
    }
    void everyPolledValueHasItsControl()
    {
        QFETCH(QString, tool);
        QFETCH(QString, key);
        const auto window = makeWindow(tool);
        const Point &point = *window->module().point(key);
        const std::optional<Target> target = window->controls().find(key);
        QVERIFY2(target, qPrintable(QStringLiteral("no control for %1").arg(key)));
        const int index = target->index;
        QWidget *control = nullptr;
        if (target->kind == Target::Cell) {
            control = window->Label1(index);
            QVERIFY2(control, qPrintable(QStringLiteral("no Label1(%1)").arg(index)));
            QCOMPARE(control->objectName(), QStringLiteral("Label1_%1").arg(index));
        } else {
            control = window->Combo1(index);
            QVERIFY2(control, qPrintable(QStringLiteral("no Combo1(%1)").arg(index)));
            QCOMPARE(control->objectName(), QStringLiteral("Combo1_%1").arg(index));
        }
        // No other value of the poll shares the control.
        const QVector<Point> &poll = window->module().poll;
        const auto sharing = std::count_if(poll.begin(), poll.end(), [&](const Point &p) {
            const std::optional<Target> other = window->controls().find(p.key);
            return other && other->kind == target->kind && other->index == target->index;
        });
        QCOMPARE(sharing, 1);

        // In the group of its row caption, in that row, under its column.
        QLabel *caption = onlyLabel(window.get(), point.row);
        QVERIFY2(caption, qPrintable(QStringLiteral("no single caption %1").arg(point.row)));
        QWidget *group = caption->parentWidget();
        QCOMPARE(control->parentWidget(), group);
        QLabel *header = onlyLabel(group, point.column);
        QVERIFY2(header, qPrintable(QStringLiteral("no single header %1").arg(point.column)));
        const QPoint centre = control->geometry().center();
        const QRect row = caption->geometry();
        const QRect column = header->geometry();
        QVERIFY2(centre.y() >= row.top() && centre.y() <= row.bottom(),
                 qPrintable(QStringLiteral("%1 not in the row of %2").arg(control->objectName(), point.row)));
        QVERIFY2(centre.x() >= column.left() && centre.x() <= column.right(),
                 qPrintable(QStringLiteral("%1 not under %2").arg(control->objectName(), point.column)));
    }

    // The counts the windows lay out their groups by come from the definitions.
    void channelCounts_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<int>("inputs");
        QTest::addColumn<int>("relays");
        QTest::newRow("t516") << "t516" << 2 << 2;
        QTest::newRow("t528") << "t528" << 2 << 2;
        QTest::newRow("t540") << "t540" << 7 << 0;
    }
    void channelCounts()
    {
        QFETCH(QString, tool);
        QFETCH(int, inputs);
        QFETCH(int, relays);
        const auto window = makeWindow(tool);
        QCOMPARE(window->module().inputs(), inputs);
        QCOMPARE(window->module().relays(), relays);
        for (int n = 1; n <= inputs; ++n)
            QVERIFY(onlyLabel(window.get(), QStringLiteral("输入%1").arg(n)));
        QVERIFY(!onlyLabel(window.get(), QStringLiteral("输入%1").arg(inputs + 1)));
        for (int k = 1; k <= relays; ++k)
            QVERIFY(onlyLabel(window.get(), QStringLiteral("继电器%1").arg(k)));
        QVERIFY(!onlyLabel(window.get(), QStringLiteral("继电器%1").arg(relays + 1)));
    }

    // What the system shows and writes, checked on the system itself (this
    // test also runs under Wine): hex in a fixed-pitch face, drop-down lists
    // in a sans one, a saved text file as the system's tools read it.
    void facesAndTextFiles()
    {
        QVERIFY2(QFontInfo(hv52::look::fixedFont()).fixedPitch(),
                 qPrintable(QFontInfo(hv52::look::fixedFont()).family()));
        const auto window = makeWindow(QStringLiteral("t516"));
        const QList<QComboBox *> boxes = window->findChildren<QComboBox *>();
        QVERIFY(!boxes.isEmpty());
        for (const QComboBox *box : boxes) {
            const QString family = QFontInfo(box->view()->font()).family();
            QVERIFY2(!family.contains(QStringLiteral("Serif")) && !family.contains(QStringLiteral("SimSun"))
                         && !family.contains(QStringLiteral("宋体")),
                     qPrintable(box->objectName() + u' ' + family));
        }
        const QString text = QStringLiteral("时间\t请求\n10:00:00\t01 03\n");
        const QByteArray bytes = hv52::textFileBytes(text);
        if (QSysInfo::kernelType() == QLatin1String("winnt"))
            QCOMPARE(bytes, QByteArray("\xEF\xBB\xBF") + QStringLiteral("时间\t请求\r\n10:00:00\t01 03\r\n").toUtf8());
        else
            QCOMPARE(bytes, text.toUtf8());
    }
};

QTEST_MAIN(ControlsTest)
#include "tst_controls.moc"
