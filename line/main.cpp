// hv52line (线路调试): started without arguments, or with a plan file to open.
#include "linewindow.h"

#include "interrupt.h"

#include "messagebox.h"
#include "platform.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("线路调试"));
    hv52::preparePlatform();
    hv52::installQtChinese();
    hv52run::Interrupt::install(); // in this thread, before any line's session
    hv52line::LineWindow window;
    window.show();
    const QStringList args = QApplication::arguments();
    if (args.size() > 2) {
        hv52::showMessageBox(
            &window, QStringLiteral("用法：hv52line [计划文件]（参数过多：%1 个），计划未打开。").arg(args.size() - 1));
    } else if (args.size() == 2) {
        window.openPlan(args[1]);
    }
    return app.exec();
}
