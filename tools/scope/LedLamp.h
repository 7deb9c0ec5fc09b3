// The front panel's LED as a lamp in its colour.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace scope {

// The two LED pins drive a two-colour LED: pin 6 red, pin 7 green, both amber.
struct LedLook {
    QColor colour;
    QString name;
};
LedLook ledLook(int code);

class LedLamp : public QWidget {
    Q_OBJECT
public:
    explicit LedLamp(QWidget* parent = nullptr);
    void setCode(int code);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int code_ = -1;
};

} // namespace scope
