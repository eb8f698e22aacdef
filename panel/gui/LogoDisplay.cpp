// Painting of the logo panel and the registration of the panel's compiled-in
// resources, which a static library cannot do by itself.
#include "LogoDisplay.h"

#include <QLinearGradient>
#include <QPainter>

#include "LookColours.h"
#include "PanelPaint.h"

// Q_INIT_RESOURCE must be expanded outside any namespace. The resources live
// in a static library, so nothing registers them unless someone calls this;
// doing it here serves the program and the tests alike.
static void InitPanelResources() {
    Q_INIT_RESOURCE(panel);
}

CLogoDisplay::CLogoDisplay(QWidget* parent) : QWidget(parent) {
    static const bool registered = (InitPanelResources(), true);
    (void)registered;
    m_logo.load(QStringLiteral(":/panel/logo.png"));
}

QSize CLogoDisplay::sizeHint() const { return {200, 100}; }

void CLogoDisplay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    panelpaint::Card(painter, rect());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_logo);
}
