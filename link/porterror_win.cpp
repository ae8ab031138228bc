#include "porterror.h"

#include <QMetaObject>
#include <QObject>

namespace hv52 {

void closeAfterPortError(QObject *context, std::function<void()> close)
{
    // Windows reports one error for a pulled adapter, not a stream of them:
    // the port may stay open until the event loop's next turn.
    QMetaObject::invokeMethod(context, std::move(close), Qt::QueuedConnection);
}

} // namespace hv52
