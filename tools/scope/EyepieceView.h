// Both eyepiece panels side by side, as large as the window allows at the panels' 16:9,
// each under its name. Over a panel the mouse is the microscope's USB mouse: its buttons
// click and its wheel turns.
#pragma once

#include <QImage>
#include <QWidget>

#include "tools/scope/BoardLink.h"
#include "tools/scope/EyepieceFeed.h"

namespace scope {

class EyepieceView : public QWidget {
    Q_OBJECT
public:
    EyepieceView(BoardLink& link, QWidget* parent = nullptr);

    // Where eye 0 (left) or 1 (right) is drawn, in this widget's coordinates.
    QRect panelRect(int eye) const;
    // The picture shown for an eye (null before the first one).
    const QImage& picture(int eye) const { return pictures_[eye]; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // As tall as two panels side by side need at that width: the rest of the window goes to
    // the controls.
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

public slots:
    void showPicture(int eye, const QImage& picture);

signals:
    void panelSizeChanged(const QSize& size);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    bool overPanel(const QPoint& at) const;

    BoardLink& link_;
    QImage pictures_[kEyes];
    int wheelEighths_ = 0; // the wheel's turn not yet sent as whole steps
};

} // namespace scope
