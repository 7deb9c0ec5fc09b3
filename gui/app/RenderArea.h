// The widget that shows the rendered overlay: it keeps the last picture given to it and
// paints it at the top-left corner.
#pragma once

#include <QImage>
#include <QWidget>

class RenderArea : public QWidget {
    Q_OBJECT

public:
    explicit RenderArea(QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

    // Keeps a copy of the picture; a null picture is ignored.
    void setImage(const QImage& image);
    const QImage& image() const { return mImage; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage mImage;
};
