#include "platform/Clock.h"

#include <QDateTime>

#include "model/DateTime.h"

namespace quorvel {

int Clock::currentYear() const { return decodeDayNumber(now()).year; }

double SystemClock::now() const {
    const QDateTime t = QDateTime::currentDateTime();
    const QDate d = t.date();
    const QTime tm = t.time();
    return encodeDayNumber(
        {d.year(), d.month(), d.day(), tm.hour(), tm.minute(), tm.second(), tm.msec()});
}

}  // namespace quorvel
