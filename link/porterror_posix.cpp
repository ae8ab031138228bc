#include "porterror.h"

namespace hv52 {

void closeAfterPortError(QObject *, std::function<void()> close)
{
    close();
}

} // namespace hv52
