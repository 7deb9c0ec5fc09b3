#include "gui/app/RenderArea.h"

#include <QPainter>

namespace {

constexpr int kMinimumWidth = 800;
constexpr int kMinimumHeight = 480;
constexpr int kPreferredWidth = 800;
constexpr int kPreferredHeight = 600;

} // namespace

RenderArea::RenderArea(QWidget* parent) : QWidget(parent) {
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

QSize RenderArea::minimumSizeHint() const {
    return QSize(kMinimumWidth, kMinimumHeight);
}

QSize RenderArea::sizeHint() const {
    return QSize(kPreferredWidth, kPreferredHeight);
}

void RenderArea::setImage(const QImage& image) {
    if (!image.isNull()) {
        mImage = image;
    }
}

void RenderArea::paintEvent(QPaintEvent* event) {
    if (mImage.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, mImage);
}
