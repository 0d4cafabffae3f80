// Moving a board's state to and from its state folder.
#include "emulator/Board.h"
#include "emulator/StateFolder.h"

namespace zq::emu
{

BoardState Board::state() const
{
    BoardState state;
    state.identity = identity_;
    state.target = target_.config();
    state.spiFlash = spiFlash_.usedContents();
    state.targetFlash = target_.flash().usedContents();
    state.app = app_.image();
    state.boot = boot_.image();
    state.blockWriteMs = blockWriteMs_;
    return state;
}

void Board::restore(const BoardState &state)
{
    identity_ = state.identity;
    spiFlash_.load(state.spiFlash);
    target_ = SwdTarget(state.target);
    target_.flash().load(state.targetFlash);
    app_.load(state.app);
    boot_.load(state.boot);
    blockWriteMs_ = state.blockWriteMs;
}

bool Board::saveState(const QString &folder) const
{
    BoardState snapshot;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        snapshot = state();
    }
    return saveStateFolder(folder, snapshot);
}

bool Board::loadState(const QString &folder, QString *error)
{
    const std::optional<BoardState> loaded = loadStateFolder(folder, error);
    if (!loaded)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    restore(*loaded);
    return true;
}

std::shared_ptr<Board> Board::fromStateFolder(const QString &folder, QString *error)
{
    auto board = std::make_shared<Board>();
    QString problem;
    if (!board->loadState(folder, &problem) && !problem.isEmpty()) {
        if (error)
            *error = problem;
        return nullptr;
    }
    return board;
}

} // namespace zq::emu
