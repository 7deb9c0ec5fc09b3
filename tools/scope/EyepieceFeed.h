// Both eyepieces drawn from the board's state ten times a second, on a thread of its own so
// the window never waits for a picture. A panel is drawn only when what it is drawn from
// changed (its key), at about the size it is shown; when only the live picture's frame
// changed, only the rows where it moves are drawn again. An idle board costs the window a
// key comparison per panel and tick.
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "sim/board/EyepieceSnapshot.h"
#include "tools/scope/BoardLink.h"

namespace scope {

constexpr int kEyes = 2;
constexpr int kRefreshesPerSecond = 10;

// The panel pixels per drawn pixel for a panel shown `width` pixels wide: the nearest whole
// step, so the picture is scaled by less than a step either way.
int drawStep(int width);

// Whether two keys differ in the live picture's frame alone.
bool onlyTheFrameDiffers(const sim::EyepieceKey& a, const sim::EyepieceKey& b);

class EyepieceFeed : public QObject {
    Q_OBJECT
public:
    struct Stats {
        uint64_t ticks = 0; // refreshes: each compares both panels' keys
        uint64_t draws = 0; // whole panels drawn
        uint64_t bands = 0; // the moving rows of a panel drawn
        double drawCpuSeconds = 0;
    };

    explicit EyepieceFeed(const BoardLink& link);
    ~EyepieceFeed() override;
    EyepieceFeed(const EyepieceFeed&) = delete;
    EyepieceFeed& operator=(const EyepieceFeed&) = delete;

    void start();
    // The size each panel is shown at; the next refresh draws at that size.
    void setPanelSize(const QSize& size);
    Stats stats() const;

signals:
    // A new picture of one eye (0 left, 1 right), at the panel size asked for.
    void pictureReady(int eye, const QImage& picture);

private:
    // What is shown of one eye: the key it was drawn from, the panel drawn at `step` and
    // that scaled to `size`.
    struct Eye {
        sim::EyepieceKey key;
        int step = 0;
        QSize size;
        sim::PanelPicture panel;
        QImage picture;
    };

    void run();
    void refresh(int eye, const QSize& size);
    bool drawWhole(int eye, int step, const QSize& size);
    bool drawMovingRows(int eye);

    const BoardLink& link_;
    std::atomic<int> width_{0};
    std::atomic<int> height_{0};
    Eye eyes_[kEyes];

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    Stats stats_;
    std::thread thread_;
};

} // namespace scope
