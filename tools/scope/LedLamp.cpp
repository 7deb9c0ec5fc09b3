#include "tools/scope/LedLamp.h"

#include <QPainter>

namespace scope {

namespace {

constexpr int kLampSize = 18;

} // namespace

LedLook ledLook(int code) {
    switch (code) {
    case 1:
        return {QColor(220, 30, 30), QStringLiteral("standby")};
    case 2:
        return {QColor(40, 200, 60), QStringLiteral("operating")};
    case 3:
        return {QColor(240, 170, 20), QStringLiteral("busy")};
    case 0:
        return {QColor(40, 40, 40), QStringLiteral("dark")};
    default:
        return {QColor(40, 40, 40), QStringLiteral("not driven")};
    }
}

LedLamp::LedLamp(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
}

QSize LedLamp::sizeHint() const {
    return {kLampSize, kLampSize};
}

void LedLamp::setCode(int code) {
    if (code != code_) {
        code_ = code;
        update();
    }
}

void LedLamp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(ledLook(code_).colour);
    painter.drawEllipse(rect().adjusted(1, 1, -1, -1));
}

} // namespace scope
