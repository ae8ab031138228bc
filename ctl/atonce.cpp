// A thread a line. The link waits for its answers in nested event loops;
// one loop driving every line would make each line's wait sit inside
// another's, a slow line holding up the rest. Threads keep the lines apart
// by construction: a line's port, its timeouts and its quiet waits stay
// its own.
#include "atonce.h"
#include "ctl.h"
#include "interrupt.h"

#include <QEventLoop>
#include <QThread>

#include <memory>
#include <vector>

namespace hv52ctl {

void eachLineAtOnce(LineBoard &board, const QStringList &names, const std::function<void(int line)> &work)
{
    Interrupt::install(); // in this thread, before any line's session
    std::vector<std::unique_ptr<QThread>> threads;
    QEventLoop loop;
    int running = int(names.size());
    for (int i = 0; i < names.size(); ++i) {
        const QString prefix = names[i] + u'：';
        threads.emplace_back(QThread::create([&board, &work, i, prefix] {
            const LineBoard::Bound bound(board, i, prefix);
            work(i);
        }));
        QObject::connect(threads.back().get(), &QThread::finished, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
    }
    for (auto &thread : threads)
        thread->start();
    if (running > 0)
        loop.exec();
    for (auto &thread : threads)
        thread->wait();
}

} // namespace hv52ctl
