#pragma once
#include "dataunit.h"
#include "frames.h"

#include <QByteArray>
#include <QMetaType>
#include <QTime>

namespace hv52 {

// One exchange as it went over the line: what the line monitor shows.
struct ExchangeRecord
{
    QTime sentAt;         // wall clock when the request went out
    qint64 elapsedUs = 0; // from the request to the answer's last byte, or to the timeout
    QByteArray request;
    QByteArray answer; // whatever was received for it
    Verdict verdict;
    Framing framing = Framing::Rtu; // how request and answer are framed on the line
    quint64 id = 0;                 // the link's number for it (Link::exchangeRevised)
};

} // namespace hv52

Q_DECLARE_METATYPE(hv52::ExchangeRecord)
