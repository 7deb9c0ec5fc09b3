// The window's link to the running simulated board, the one ostrix-sim has: commands go to
// the program serving the board's control socket (with none running they act on the shared
// state directly), and what the board shows is read from the shared state itself, so that
// watching the board costs the programs nothing.
#pragma once

#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/board/Board.h"

namespace scope {

class BoardLink : public QObject {
    Q_OBJECT
public:
    // Commands waiting beyond this many are refused: a board that stopped answering must not
    // make the window's memory grow.
    static constexpr size_t kMaxWaiting = 256;

    // The link to the board in the system root `root`; nullptr with an error text when there
    // is none.
    static std::unique_ptr<BoardLink> open(const std::string& root, std::string& error);
    ~BoardLink() override;
    BoardLink(const BoardLink&) = delete;
    BoardLink& operator=(const BoardLink&) = delete;

    const std::string& root() const { return root_; }

    // Queues a command (the words ostrix-sim takes); commands are sent one at a time, in
    // order, from a thread of the link's own, so the caller never waits for the board.
    void send(std::vector<std::string> args);

    // Runs `read(board)` on the board's shared state, one reader at a time.
    template <class Read> auto read(Read&& read) const {
        std::lock_guard<std::mutex> hold(boardMutex_);
        return read(*board_);
    }

signals:
    // A command's answer, emitted from the link's thread.
    void answered(const QString& command, bool ok, const QString& text);

private:
    BoardLink(std::string root, std::unique_ptr<sim::Board> board);
    void run();
    sim::CommandResult execute(const std::vector<std::string>& args);

    const std::string root_;
    std::unique_ptr<sim::Board> board_;
    mutable std::mutex boardMutex_;

    std::mutex queueMutex_;
    std::condition_variable wake_;
    std::deque<std::vector<std::string>> waiting_;
    bool stop_ = false;
    std::thread thread_;
};

// The words of a command as one line, for messages.
QString commandText(const std::vector<std::string>& args);

} // namespace scope
