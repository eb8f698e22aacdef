// The card every small view widget is drawn on: a vertical gradient with a
// 1 px outline in the view's frame colour. GUI thread only, like painting.
#pragma once

#include <QPainter>
#include <QRect>

#include "LookColours.h"

namespace panelpaint {

inline void Card(QPainter& painter, const QRect& rect,
                 lookcolours::Gradient colours = {lookcolours::kPanelTop, lookcolours::kPanelBottom}) {
    QLinearGradient gradient(0, rect.top(), 0, rect.bottom() + 1);
    gradient.setColorAt(0, QColor::fromRgba(colours.top));
    gradient.setColorAt(1, QColor::fromRgba(colours.bottom));
    painter.fillRect(rect, gradient);
    painter.setPen(QColor::fromRgba(lookcolours::kOutline));
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
}

}  // namespace panelpaint
