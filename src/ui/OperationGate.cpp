#include "ui/OperationGate.h"

#include <QCloseEvent>
#include <QTimer>
#include <QWidget>

namespace zq
{

OperationGate::OperationGate(QWidget *window) : QObject(window), window_(window)
{
    window_->installEventFilter(this);
}

bool OperationGate::run(const std::function<void()> &operation)
{
    if (busy_)
        return false;
    busy_ = true;
    operation();
    busy_ = false;
    if (closePending_) {
        closePending_ = false;
        // From the event loop, so the slot that ran the operation returns first.
        QTimer::singleShot(0, window_, [window = window_] { window->close(); });
    }
    return true;
}

bool OperationGate::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window_ && event->type() == QEvent::Close && busy_) {
        const bool first = !closePending_;
        closePending_ = true;
        event->ignore();
        if (first && onCloseDeferred_)
            onCloseDeferred_();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zq
