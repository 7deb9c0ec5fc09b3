#include "tools/scope/EyepieceView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "sim/board/EyepieceSnapshot.h"

namespace scope {

namespace {

constexpr int kMargin = 6;
constexpr int kGap = 8;
constexpr int kCaptionHeight = 18;
constexpr int kMinimumPanelWidth = 320;
constexpr int kPreferredPanelWidth = 640;
constexpr int kWheelEighthsPerStep = 120; // Qt reports the wheel in eighths of a degree; 15 degrees a step
const char* const kCaptions[kEyes] = {"Left eyepiece", "Right eyepiece"};

int panelHeight(int panelWidth) {
    return panelWidth * sim::kPanelHeight / sim::kPanelWidth;
}

QSize panelsSize(int panelWidth) {
    return {2 * panelWidth + kGap + 2 * kMargin, panelHeight(panelWidth) + kCaptionHeight + 2 * kMargin};
}

} // namespace

EyepieceView::EyepieceView(BoardLink& link, QWidget* parent) : QWidget(parent), link_(link) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QSize EyepieceView::sizeHint() const {
    return panelsSize(kPreferredPanelWidth);
}

QSize EyepieceView::minimumSizeHint() const {
    return panelsSize(kMinimumPanelWidth);
}

int EyepieceView::heightForWidth(int width) const {
    return panelsSize((width - 2 * kMargin - kGap) / kEyes).height();
}

// The largest pair of 16:9 panels that fits, centred.
QRect EyepieceView::panelRect(int eye) const {
    const int byWidth = (width() - 2 * kMargin - kGap) / kEyes;
    const int byHeight = (height() - 2 * kMargin - kCaptionHeight) * sim::kPanelWidth / sim::kPanelHeight;
    const int w = std::max(1, std::min(byWidth, byHeight));
    const int h = std::max(1, w * sim::kPanelHeight / sim::kPanelWidth);
    const int left = (width() - kEyes * w - kGap) / 2 + eye * (w + kGap);
    const int top = (height() - h - kCaptionHeight) / 2 + kCaptionHeight;
    return {left, top, w, h};
}

void EyepieceView::showPicture(int eye, const QImage& picture) {
    pictures_[eye] = picture;
    update(panelRect(eye));
}

void EyepieceView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    for (int eye = 0; eye < kEyes; ++eye) {
        const QRect panel = panelRect(eye);
        painter.setPen(palette().windowText().color());
        painter.drawText(QRect(panel.left(), panel.top() - kCaptionHeight, panel.width(), kCaptionHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, tr(kCaptions[eye]));
        if (pictures_[eye].size() == panel.size()) {
            painter.drawImage(panel.topLeft(), pictures_[eye]);
        } else if (!pictures_[eye].isNull()) {
            painter.drawImage(panel, pictures_[eye]); // until the feed draws at the new size
        } else {
            painter.fillRect(panel, Qt::black);
        }
    }
}

void EyepieceView::resizeEvent(QResizeEvent*) {
    emit panelSizeChanged(panelRect(0).size());
}

bool EyepieceView::overPanel(const QPoint& at) const {
    return panelRect(0).contains(at) || panelRect(1).contains(at);
}

void EyepieceView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    const char* button = event->button() == Qt::LeftButton     ? "left"
                         : event->button() == Qt::RightButton  ? "right"
                         : event->button() == Qt::MiddleButton ? "middle"
                                                               : nullptr;
    if (button && overPanel(event->pos())) {
        link_.send({"mouse", button});
    }
}

void EyepieceView::wheelEvent(QWheelEvent* event) {
    if (!overPanel(event->position().toPoint())) {
        event->ignore();
        return;
    }
    wheelEighths_ += event->angleDelta().y();
    const int steps = wheelEighths_ / kWheelEighthsPerStep;
    if (steps != 0) {
        wheelEighths_ -= steps * kWheelEighthsPerStep;
        link_.send({"mouse", "wheel", std::to_string(steps)});
    }
}

} // namespace scope
