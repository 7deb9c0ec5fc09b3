#include "tools/scope/EyepieceFeed.h"

#include <time.h>

#include <QPainter>

#include <chrono>
#include <cmath>

namespace scope {

namespace {

constexpr auto kTick = std::chrono::milliseconds(1000 / kRefreshesPerSecond);

// Rows around a band of moving rows that are scaled with it.
constexpr int kScaleMargin = 2;

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Rows [top, bottom) of a drawn panel as an image.
QImage imageOf(const sim::PanelPicture& panel, int top, int bottom) {
    QImage image(panel.width, bottom - top, QImage::Format_RGB32);
    for (int y = top; y < bottom; ++y) {
        std::copy_n(&panel.argb[size_t(y) * panel.width], panel.width,
                    reinterpret_cast<uint32_t*>(image.scanLine(y - top)));
    }
    return image;
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
    Eye& shown = eyes_[eye];
    const sim::EyepieceKey key =
        link_.read([&](sim::Board& board) { return sim::eyepieceKey(board, eye, step); });
    if (key == shown.key && size == shown.size) {
        return;
    }
    const bool band = size == shown.size && step == shown.step && onlyTheFrameDiffers(key, shown.key);
    const double start = threadCpuSeconds();
    if (!(band ? drawMovingRows(eye) : drawWhole(eye, step, size))) {
        return;
    }
    emit pictureReady(eye, shown.picture);
    std::lock_guard<std::mutex> hold(mutex_);
    ++(band ? stats_.bands : stats_.draws);
    stats_.drawCpuSeconds += threadCpuSeconds() - start;
}

bool onlyTheFrameDiffers(const sim::EyepieceKey& a, const sim::EyepieceKey& b) {
    return !a.empty() && a.size() == b.size() && std::equal(a.begin(), a.end() - 1, b.begin());
}

// The key is taken with the picture, so that it names the state the picture shows.
bool EyepieceFeed::drawWhole(int eye, int step, const QSize& size) {
    Eye& shown = eyes_[eye];
    const std::string error = link_.read([&](sim::Board& board) {
        shown.key = sim::eyepieceKey(board, eye, step);
        return sim::renderEyepiece(board, eye, shown.panel, step);
    });
    if (!error.empty()) {
        shown.key.clear();
        return false;
    }
    shown.step = step;
    shown.size = size;
    shown.picture = imageOf(shown.panel, 0, shown.panel.height)
                        .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return true;
}

// The moving rows are scaled with a few rows around them, so that they join their
// neighbours as in a whole scaling.
bool EyepieceFeed::drawMovingRows(int eye) {
    Eye& shown = eyes_[eye];
    sim::RowSpan rows;
    link_.read([&](sim::Board& board) {
        shown.key = sim::eyepieceKey(board, eye, shown.step);
        rows = sim::movingRows(board, eye, shown.step);
        return sim::renderEyepiece(board, eye, shown.panel, shown.step, rows);
    });
    if (rows.first >= rows.last) {
        return false;
    }
    const int top = std::max(rows.first - kScaleMargin, 0);
    const int bottom = std::min(rows.last + kScaleMargin, shown.panel.height);
    const QImage band = imageOf(shown.panel, top, bottom);
    // Whole rows of the picture, each covered and replaced.
    const double scale = double(shown.size.height()) / shown.panel.height;
    const int targetTop = int(std::floor(rows.first * scale));
    const int targetBottom = std::min(int(std::ceil(rows.last * scale)), shown.size.height());
    const QRect target(0, targetTop, shown.size.width(), targetBottom - targetTop);
    const QRectF source(0, targetTop / scale - top, band.width(), (targetBottom - targetTop) / scale);
    QPainter painter(&shown.picture);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, band, source);
    return true;
}

} // namespace scope
