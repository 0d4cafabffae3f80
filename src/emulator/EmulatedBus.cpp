#include "emulator/EmulatedBus.h"

#include "emulator/Board.h"
#include "emulator/EmulatedLink.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <thread>

namespace zq::emu
{

namespace
{

using Clock = std::chrono::steady_clock;

// Bus 1, the given port of its root hub.
QString pathFor(int port)
{
    return QString("emu:1-%1 vid_5a17&pid_c0d2").arg(port);
}

} // namespace

// One background thread that runs tasks at their time: the bus's own clock for what a board
// does by itself (leaving the bus, coming back). A task runs on this thread with no lock held.
class DelayedTasks
{
public:
    using Clock = std::chrono::steady_clock;

    DelayedTasks() = default;
    ~DelayedTasks(); // drops the tasks still waiting and joins the thread
    DelayedTasks(const DelayedTasks &) = delete;
    DelayedTasks &operator=(const DelayedTasks &) = delete;

    void schedule(Clock::time_point when, std::function<void()> task);

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<Clock::time_point, std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

DelayedTasks::~DelayedTasks()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void DelayedTasks::schedule(Clock::time_point when, std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_)
            return;
        tasks_.emplace(when, std::move(task));
        if (!thread_.joinable())
            thread_ = std::thread(&DelayedTasks::run, this);
    }
    wake_.notify_all();
}

void DelayedTasks::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (tasks_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto first = tasks_.begin();
        // A copy: the wait reads the time again after it wakes, and by then the destructor may
        // have dropped the task that held it.
        const Clock::time_point due = first->first;
        if (due > Clock::now()) {
            wake_.wait_until(lock, due);
            continue;
        }
        std::function<void()> task = std::move(first->second);
        tasks_.erase(first);
        lock.unlock();
        task();
        lock.lock();
    }
}

struct EmulatedBus::Slot {
    int port;
    QString path;
    std::shared_ptr<Board> board;
    std::vector<std::weak_ptr<EmulatedLink>> links;
};

EmulatedBus::EmulatedBus() : tasks_(std::make_unique<DelayedTasks>()) {}

EmulatedBus::~EmulatedBus()
{
    tasks_.reset();
    for (const auto &slot : slots_)
        for (const auto &weak : slot->links)
            if (auto link = weak.lock())
                link->fail();
}

EmulatedBus &EmulatedBus::instance()
{
    static EmulatedBus bus;
    return bus;
}

QString EmulatedBus::plug(std::shared_ptr<Board> board, int port)
{
    if (!board || port < kNextFreePort)
        return {};
    std::lock_guard<std::recursive_mutex> change(changes_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        restarting_.erase(board.get());
        for (const auto &slot : slots_)
            if (slot->board == board)
                return slot->path;
        if (port == kNextFreePort)
            port = nextFreePort();
        else if (portHeld(port))
            return {};
    }
    return attach(std::move(board), port);
}

void EmulatedBus::unplug(const QString &path)
{
    std::lock_guard<std::recursive_mutex> change(changes_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto entry = restarting_.begin(); entry != restarting_.end();)
            entry = pathFor(entry->second) == path ? restarting_.erase(entry) : std::next(entry);
    }
    detach(path, nullptr);
}

void EmulatedBus::unplugAll()
{
    std::lock_guard<std::recursive_mutex> change(changes_);
    QStringList plugged;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        restarting_.clear();
        for (const auto &slot : slots_)
            plugged << slot->path;
    }
    for (const QString &path : plugged)
        detach(path, nullptr);
}

QStringList EmulatedBus::paths() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    QStringList result;
    for (const auto &slot : slots_)
        result << slot->path;
    return result;
}

std::shared_ptr<Board> EmulatedBus::board(const QString &path) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto slot = findSlot(path);
    return slot ? slot->board : nullptr;
}

std::shared_ptr<BoardLink> EmulatedBus::open(const QString &path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto slot = findSlot(path);
    if (!slot)
        return nullptr;
    auto &links = slot->links;
    links.erase(
        std::remove_if(links.begin(), links.end(), [](const auto &w) { return w.expired(); }),
        links.end());
    auto link = std::static_pointer_cast<EmulatedLink>(makeLink(slot->port, slot->board));
    links.push_back(link);
    return link;
}

int EmulatedBus::addListener(Listener listener)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.emplace_back(nextListenerId_, std::move(listener));
    return nextListenerId_++;
}

void EmulatedBus::removeListener(int id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                    [id](const auto &entry) { return entry.first == id; }),
                     listeners_.end());
}

std::shared_ptr<EmulatedBus::Slot> EmulatedBus::findSlot(const QString &path) const
{
    for (const auto &slot : slots_)
        if (slot->path == path)
            return slot;
    return nullptr;
}

bool EmulatedBus::portHeld(int port) const
{
    for (const auto &slot : slots_)
        if (slot->port == port)
            return true;
    for (const auto &entry : restarting_)
        if (entry.second == port)
            return true;
    return false;
}

int EmulatedBus::nextFreePort()
{
    while (portHeld(nextPort_))
        ++nextPort_;
    return nextPort_++;
}

QString EmulatedBus::attach(std::shared_ptr<Board> board, int port)
{
    const QString path = pathFor(port);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slots_.push_back(std::make_shared<Slot>(Slot{port, path, std::move(board), {}}));
    }
    notify(true, path);
    return path;
}

bool EmulatedBus::detach(const QString &path, const Board *expected)
{
    std::shared_ptr<Slot> slot;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slot = findSlot(path);
        if (!slot || (expected != nullptr && slot->board.get() != expected))
            return false;
        slots_.erase(std::find(slots_.begin(), slots_.end(), slot));
    }
    // The news goes out before the transfers fail, so a host that learns of the loss from a
    // failed transfer finds the news of the removal already on its way.
    notify(false, path);
    for (const auto &weak : slot->links)
        if (auto link = weak.lock())
            link->fail();
    return true;
}

void EmulatedBus::notify(bool arrived, const QString &path)
{
    std::vector<std::pair<int, Listener>> listeners;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listeners = listeners_;
    }
    for (const auto &entry : listeners)
        entry.second(arrived, path);
}

std::shared_ptr<BoardLink> EmulatedBus::makeLink(int port, std::shared_ptr<Board> board)
{
    EmulatedLink::BusEvents events;
    // At once, on the thread whose transfer found the board gone: the news of the removal is on
    // its way before that transfer fails, as the unplug of a board does.
    events.boardGone = [this, port, board] { dropGoneBoard(port, board); };
    events.restart = [this, port, board](BoardMode mode) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            restarting_[board.get()] = port;
        }
        const auto leaveAt = Clock::now() + std::chrono::milliseconds(board->leaveDelayMs());
        tasks_->schedule(leaveAt,
                         [this, port, board, mode] { leaveForRestart(port, board, mode); });
    };
    return std::make_shared<EmulatedLink>(std::move(board), std::move(events));
}

void EmulatedBus::dropGoneBoard(int port, const std::shared_ptr<Board> &board)
{
    std::lock_guard<std::recursive_mutex> change(changes_);
    detach(pathFor(port), board.get());
}

void EmulatedBus::leaveForRestart(int port, const std::shared_ptr<Board> &board, BoardMode mode)
{
    std::lock_guard<std::recursive_mutex> change(changes_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (restarting_.count(board.get()) == 0)
            return;
    }
    if (!detach(pathFor(port), board.get())) {
        std::lock_guard<std::mutex> lock(mutex_);
        restarting_.erase(board.get());
        return;
    }
    board->enterMode(mode);
    const auto returnAt = Clock::now() + std::chrono::milliseconds(board->returnDelayMs());
    tasks_->schedule(returnAt, [this, board] { returnFromRestart(board); });
}

void EmulatedBus::returnFromRestart(const std::shared_ptr<Board> &board)
{
    std::lock_guard<std::recursive_mutex> change(changes_);
    int port = kNextFreePort;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto entry = restarting_.find(board.get());
        if (entry == restarting_.end())
            return;
        port = entry->second;
        restarting_.erase(entry);
    }
    attach(board, port);
}

} // namespace zq::emu
