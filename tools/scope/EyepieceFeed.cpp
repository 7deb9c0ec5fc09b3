#include "tools/scope/EyepieceFeed.h"

#include <time.h>

#include <chrono>
#include <cmath>

namespace scope {

namespace {

constexpr auto kTick = std::chrono::milliseconds(1000 / kRefreshesPerSecond);

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

} // namespace

int drawStep(int width) {
    if (width <= 0) {
        return sim::kMaxRenderStep;
    }
    const int step = static_cast<int>(std::lround(double(sim::kPanelWidth) / width));
    return std::clamp(step, 1, sim::kMaxRenderStep);
}

EyepieceFeed::EyepieceFeed(const BoardLink& link) : link_(link) {}

EyepieceFeed::~EyepieceFeed() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void EyepieceFeed::start() {
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { run(); });
    }
}

void EyepieceFeed::setPanelSize(const QSize& size) {
    width_ = size.width();
    height_ = size.height();
}

EyepieceFeed::Stats EyepieceFeed::stats() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return stats_;
}

// Ticks keep their pace: a slow draw shortens the wait before the next, never the rate.
void EyepieceFeed::run() {
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        const QSize size(width_.load(), height_.load());
        if (!size.isEmpty()) {
            for (int eye = 0; eye < kEyes; ++eye) {
                refresh(eye, size);
            }
        }
        std::unique_lock<std::mutex> hold(mutex_);
        ++stats_.ticks;
        next = std::max(next + kTick, std::chrono::steady_clock::now());
        if (wake_.wait_until(hold, next, [this] { return stop_; })) {
            return;
        }
    }
}

void EyepieceFeed::refresh(int eye, const QSize& size) {
    const int step = drawStep(size.width());
    sim::EyepieceKey key = link_.read([&](sim::Board& board) { return sim::eyepieceKey(board, eye, step); });
    if (key == shown_[eye] && size == shownSize_[eye]) {
        return;
    }
    const double start = threadCpuSeconds();
    const QImage picture = draw(eye, step, key);
    if (picture.isNull()) {
        return;
    }
    shown_[eye] = std::move(key);
    shownSize_[eye] = size;
    emit pictureReady(eye, picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    std::lock_guard<std::mutex> hold(mutex_);
    ++stats_.draws;
    stats_.drawCpuSeconds += threadCpuSeconds() - start;
}

// The key is taken again with the picture, so that it names the state the picture shows.
QImage EyepieceFeed::draw(int eye, int step, sim::EyepieceKey& key) const {
    sim::PanelPicture panel;
    const std::string error = link_.read([&](sim::Board& board) {
        key = sim::eyepieceKey(board, eye, step);
        return sim::renderEyepiece(board, eye, panel, step);
    });
    if (!error.empty()) {
        return {};
    }
    QImage picture(panel.width, panel.height, QImage::Format_RGB32);
    for (int y = 0; y < panel.height; ++y) {
        std::copy_n(&panel.argb[size_t(y) * panel.width], panel.width,
                    reinterpret_cast<uint32_t*>(picture.scanLine(y)));
    }
    return picture;
}

} // namespace scope
