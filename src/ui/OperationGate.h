#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace zq
{

// Keeps operations from overlapping. Every wait of an operation runs the event loop, so without
// this gate a second button press (or a close request) would start work in the middle of the
// first. A press that meets a running operation is ignored without a word; a close request is
// carried out when the operation has ended, and tells the operation to give up its waits so that
// this is soon.
class OperationGate : public QObject
{
public:
    explicit OperationGate(QWidget *window);

    bool busy() const { return busy_; }
    // A close request met a running operation; the waits of the protocol end at once from now on.
    bool closeRequested() const { return closePending_; }
    // Called when a close request is put off, e.g. to end a transfer that is pending.
    void setOnCloseDeferred(std::function<void()> action) { onCloseDeferred_ = std::move(action); }

    // Runs operation unless one is running; false when the press was ignored.
    bool run(const std::function<void()> &operation);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *window_;
    bool busy_ = false;
    bool closePending_ = false;
    std::function<void()> onCloseDeferred_;
};

} // namespace zq
