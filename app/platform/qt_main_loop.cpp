#include "qt_main_loop.hpp"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>

namespace quotalume {
namespace {

class QtTimerHandle final : public TimerHandle {
public:
    explicit QtTimerHandle(QTimer* timer) : timer_(timer) {}
    // The timer may be firing right now: Qt keeps the running slot alive until it returns.
    ~QtTimerHandle() override { delete timer_.data(); }

private:
    QPointer<QTimer> timer_;  // owned, unless the loop went first and took it along
};

}  // namespace

QtMainLoop::QtMainLoop() : context_(std::make_unique<QObject>()) {}

QtMainLoop::~QtMainLoop() {
    std::unique_ptr<QObject> context;
    {
        std::lock_guard lock(mutex_);
        context = std::move(context_);
    }
    // Deleting the context removes the work still queued for it and stops its timers.
}

void QtMainLoop::post(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    if (context_) {
        QMetaObject::invokeMethod(context_.get(), std::move(work), Qt::QueuedConnection);
    }
}

std::unique_ptr<TimerHandle> QtMainLoop::startTimer(Duration delay, bool repeating,
                                                    std::function<void()> fire) {
    using std::chrono::milliseconds;
    const auto interval = std::clamp(delay, milliseconds(0), milliseconds(INT_MAX));
    auto* timer = new QTimer(context_.get());
    timer->setSingleShot(!repeating);
    // A coarse timer may be 5 % late, which matters only for short delays.
    timer->setTimerType(interval < std::chrono::seconds(2) ? Qt::PreciseTimer : Qt::CoarseTimer);
    auto callback = std::make_shared<std::function<void()>>(std::move(fire));
    QObject::connect(timer, &QTimer::timeout, timer, [callback] {
        auto keep = callback;  // the handle may be destroyed inside the call
        (*keep)();
    });
    timer->start(interval);
    return std::make_unique<QtTimerHandle>(timer);
}

}  // namespace quotalume
