// Painting of the caption bar.
#include "ItemHeaderCtrl.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>

#include "AppSettings.h"
#include "LookColours.h"
#include "PanelPaint.h"

CItemHeaderCtrl::CItemHeaderCtrl(const QString& caption, QWidget* parent)
    : QWidget(parent), m_caption(caption), m_look(AppLookOffice2007Blue) {}

void CItemHeaderCtrl::SetLook(int look) {
    if (look == m_look) return;
    m_look = look;
    update();
}

QSize CItemHeaderCtrl::sizeHint() const { return {200, 30}; }

void CItemHeaderCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    panelpaint::Card(painter, rect(), lookcolours::HeaderGradient(m_look));

    QFont font(QStringLiteral("Arial"), 12);
    font.setStyleStrategy(QFont::PreferAntialias);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(Qt::black);
    // The extra 3 px sits the caption a little below the geometric centre,
    // where it looks centred against the lighter top of the gradient.
    const int textHeight = QFontMetrics(font, this).height();
    const int top = (height() - textHeight) / 2 + 3;
    painter.drawText(QRect(0, top, width(), textHeight), Qt::AlignHCenter | Qt::AlignTop,
                     m_caption);
}
