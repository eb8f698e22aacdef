// The wavelength display's text choice, its font fitting and painting.
#include "WavelengthDisplay.h"

#include <algorithm>

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>

#include "DisplayUnits.h"
#include "LookColours.h"
#include "PanelPaint.h"

namespace {

constexpr int kLargestPointSize = 24;

QFont DisplayFont(int pointSize) {
    QFont font(QStringLiteral("Arial"), pointSize);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

}  // namespace

CWavelengthDisplay::CWavelengthDisplay(QWidget* parent)
    : QWidget(parent), m_wavelengthNm(-1.0), m_bTableEmpty(true), m_unit(0) {}

void CWavelengthDisplay::SetWavelength(double nm) {
    if (nm == m_wavelengthNm) return;
    m_wavelengthNm = nm;
    update();
}

void CWavelengthDisplay::SetTableEmpty(bool empty) {
    if (empty == m_bTableEmpty) return;
    m_bTableEmpty = empty;
    update();
}

void CWavelengthDisplay::SetUnit(int wavelengthUnitIndex) {
    if (wavelengthUnitIndex == m_unit) return;
    m_unit = wavelengthUnitIndex;
    update();
}

QString CWavelengthDisplay::Text() const {
    if (m_bTableEmpty) return QString(QChar(0x2014));
    if (m_wavelengthNm < 0) return QStringLiteral("Select a Wavelength\n on the Plot");
    return QString::fromStdString(displayunits::WavelengthText(m_wavelengthNm, m_unit));
}

int CWavelengthDisplay::FitPointSize(const QString& text, QSize box) {
    const QRect bounds(QPoint(0, 0), box);
    for (int pointSize = kLargestPointSize; pointSize > 1; --pointSize) {
        const QRect needed =
            QFontMetrics(DisplayFont(pointSize)).boundingRect(bounds, Qt::AlignHCenter, text);
        if (needed.width() <= box.width() && needed.height() <= box.height()) return pointSize;
    }
    return 1;
}

QSize CWavelengthDisplay::sizeHint() const { return {200, 50}; }

void CWavelengthDisplay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    panelpaint::Card(painter, rect());

    // Drawing 2 pt under the size that just fits leaves a margin inside the
    // outline; the 5 px drop sits the glyphs' visual centre on the panel's.
    const QString text = Text();
    const QFont font = DisplayFont(std::max(1, FitPointSize(text, size()) - 2));
    const int textHeight =
        QFontMetrics(font).boundingRect(rect(), Qt::AlignHCenter, text).height();
    const int top = (height() - textHeight) / 2 + 5;
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(QColor::fromRgba(lookcolours::kPanelText));
    painter.drawText(QRect(0, top, width(), textHeight), Qt::AlignHCenter | Qt::AlignTop, text);
}
