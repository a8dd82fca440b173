#include "ResponsiveClock.h"

#include <algorithm>

#include <QCoreApplication>
#include <QThread>

namespace spindle::gui {

void CResponsiveClock::Sleep(std::uint32_t ms) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread()) {
        inner_.Sleep(ms);
        return;
    }
    std::uint32_t remaining = ms;
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        const std::uint32_t slice = std::min(remaining, kSliceMs);
        if (slice > 0) inner_.Sleep(slice);
        remaining -= slice;
    } while (remaining > 0);
}

}  // namespace spindle::gui
