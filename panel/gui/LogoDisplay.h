// The company logo on a light panel gradient, stretched over the whole
// widget.
//
// Ownership: an ordinary child widget, owned by its Qt parent; it holds its
// own copy of the logo image. GUI thread only: construction and painting.
#pragma once

#include <QImage>
#include <QWidget>

class CLogoDisplay : public QWidget {
    Q_OBJECT
public:
    explicit CLogoDisplay(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_logo;
};
