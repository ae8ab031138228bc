// The walk over Modbus TCP frames that the receive rule and the line monitor
// share: what a header at an offset says about the frame it starts.
#include "dataunit.h"

#include <QTest>

using hv52::MbapFrame;

class MbapFrameTest : public QObject
{
    Q_OBJECT
private slots:
    void frameAt_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("at");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("transaction");
        QTest::addColumn<int>("size");
        const QByteArray read = QByteArray::fromHex("00010000000601030e400002");
        QTest::newRow("whole read request") << read << 0 << int(MbapFrame::Whole) << 1 << 12;
        QTest::newRow("one byte short") << read.left(11) << 0 << int(MbapFrame::Partial) << 1 << 12;
        QTest::newRow("header only") << read.left(7) << 0 << int(MbapFrame::Partial) << 1 << 12;
        QTest::newRow("less than a header") << read.left(6) << 0 << int(MbapFrame::Short) << 0 << 6;
        QTest::newRow("protocol not 0") << QByteArray::fromHex("00010001000601030e400002") << 0
                                        << int(MbapFrame::NotHeader) << 1 << 12;
        QTest::newRow("length below 2") << QByteArray::fromHex("00020000000101") << 0 << int(MbapFrame::NotHeader) << 2
                                        << 7;
        QTest::newRow("second frame") << read + QByteArray::fromHex("00070000000301030200") << 12
                                      << int(MbapFrame::Whole) << 7 << 9;
        QTest::newRow("past the end") << read << 12 << int(MbapFrame::Short) << 0 << 6;
    }
    void frameAt()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, at);
        QFETCH(int, state);
        QFETCH(int, transaction);
        QFETCH(int, size);
        const MbapFrame frame = hv52::mbapFrameAt(bytes, at);
        QCOMPARE(int(frame.state), state);
        QCOMPARE(int(frame.transaction), transaction);
        QCOMPARE(frame.size(), size);
    }
};

QTEST_APPLESS_MAIN(MbapFrameTest)
#include "tst_mbapframe.moc"
