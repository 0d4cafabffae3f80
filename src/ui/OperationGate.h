#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace zq
{

// Keeps operations from overlapping. Every wait of an operation runs the event loop, so without
// this gate a second button press (or a close request) would start work in the middle of the
// first. A press that meets a running operation is ignored without a word; a close request is
// carried out when the operation has ended.
class OperationGate : public QObject
{
public:
    explicit OperationGate(QWidget *window);

    bool busy() const { return busy_; }

    // Runs operation unless one is running; false when the press was ignored.
    bool run(const std::function<void()> &operation);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *window_;
    bool busy_ = false;
    bool closePending_ = false;
};

} // namespace zq
