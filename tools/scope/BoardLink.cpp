#include "tools/scope/BoardLink.h"

#include <cstdlib>
#include <filesystem>

#include "sim/board/ControlServer.h"

namespace scope {

std::unique_ptr<BoardLink> BoardLink::open(const std::string& root, std::string& error) {
    std::error_code ec;
    if (root.empty() || !std::filesystem::is_directory(root, ec)) {
        error = "no system root at '" + root + "': start the system first (./ostrix run), or give --root DIR";
        return nullptr;
    }
    if (error = sim::initRoot(root); !error.empty()) {
        return nullptr;
    }
    // The models map system paths through the platform's root, as in every program on the board.
    setenv("OSTRIX_SYSROOT", root.c_str(), 1);
    auto board = std::make_unique<sim::Board>(root, sim::BoardConfig::load(sim::Board::configPath(root)));
    return std::unique_ptr<BoardLink>(new BoardLink(root, std::move(board)));
}

BoardLink::BoardLink(std::string root, std::unique_ptr<sim::Board> board)
    : root_(std::move(root)), board_(std::move(board)) {
    thread_ = std::thread([this] { run(); });
}

BoardLink::~BoardLink() {
    {
        std::lock_guard<std::mutex> hold(queueMutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void BoardLink::send(std::vector<std::string> args) {
    {
        std::lock_guard<std::mutex> hold(queueMutex_);
        if (waiting_.size() < kMaxWaiting) {
            waiting_.push_back(std::move(args));
            wake_.notify_one();
            return;
        }
    }
    emit answered(commandText(args), false, QStringLiteral("the board is not keeping up: command dropped"));
}

void BoardLink::run() {
    for (;;) {
        std::vector<std::string> args;
        {
            std::unique_lock<std::mutex> hold(queueMutex_);
            wake_.wait(hold, [this] { return stop_ || !waiting_.empty(); });
            if (stop_) {
                return;
            }
            args = std::move(waiting_.front());
            waiting_.pop_front();
        }
        const sim::CommandResult result = execute(args);
        emit answered(commandText(args), result.ok, QString::fromStdString(result.text).trimmed());
    }
}

sim::CommandResult BoardLink::execute(const std::vector<std::string>& args) {
    sim::CommandResult result;
    if (sim::sendControlCommand(sim::Board::controlSocketPath(root_), args, result)) {
        return result;
    }
    return read([&](sim::Board& board) { return board.execute(args); });
}

QString commandText(const std::vector<std::string>& args) {
    QStringList words;
    for (const std::string& word : args) {
        words << QString::fromStdString(word);
    }
    return words.join(QLatin1Char(' '));
}

} // namespace scope
