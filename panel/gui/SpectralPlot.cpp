// Painting and mouse and key handling of the spectral plot.
#include "SpectralPlot.h"

#include <algorithm>
#include <cmath>

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "DisplayUnits.h"
#include "Utf8Text.h"

namespace {

constexpr QRgb kGridMajor = 0xFF808080;
constexpr QRgb kGridMinor = 0xFFD3D3D3;
constexpr QRgb kMarker = 0xFF4E9E19;
constexpr QRgb kMarkerLine = 0xFFFF0000;

QFont Arial(int points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(points);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QLinearGradient SpectrumGradient(const plotscale::PlotGeometry& g) {
    QLinearGradient gradient(g.area.left(), 0.0, g.area.right(), 0.0);
    for (const auto& [position, color] : plotscale::SpectrumStops(g.xmin, g.xmax))
        gradient.setColorAt(position, QColor::fromRgba(color));
    return gradient;
}

void DrawMarker(QPainter& painter, QPointF point, double plotBottom, bool whiteCentre) {
    painter.setPen(QPen(QColor::fromRgba(kMarkerLine), 2.0));
    painter.drawLine(point, QPointF(point.x(), plotBottom));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgba(kMarker));
    painter.drawEllipse(point, 7.5, 7.5);
    if (whiteCentre) {
        painter.setBrush(Qt::white);
        painter.drawEllipse(point, 3.0, 3.0);
    }
}

}  // namespace

CSpectralPlot::CSpectralPlot(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    Recompute();
}

void CSpectralPlot::SetFrameColor(QRgb color) {
    m_frameColor = color;
    update();
}

void CSpectralPlot::SetDisplayUnits(int wavelengthUnit, int radianceUnit) {
    m_nWavelengthUnit = wavelengthUnit;
    m_nRadianceUnit = radianceUnit;
    Recompute();
    // A radiance too large for the new unit leaves its point off the axis.
    if (DropUnplottedSelection()) emit SelectionChanged(-1);
    update();
}

void CSpectralPlot::LoadData(const std::vector<CSpectralData>& table) {
    std::vector<plotscale::DataPoint> points;
    points.reserve(table.size());
    for (const CSpectralData& entry : table)
        points.push_back({static_cast<float>(entry.m_dWavelength), static_cast<float>(entry.m_dRadiance)});
    LoadPoints(std::move(points));
}

void CSpectralPlot::LoadPoints(std::vector<plotscale::DataPoint> points) {
    m_points = std::move(points);
    Recompute();
    ClampIndices();
    repaint();
}

void CSpectralPlot::ClampIndices() {
    const int count = static_cast<int>(m_points.size());
    // A shorter table must not leave an index past its end.
    m_bHoverTracking = false;
    m_nHover = -1;
    if (count == 0) {
        m_bHasSelection = false;
        m_nSelected = -1;
    } else if (m_nSelected >= count) {
        m_nSelected = count - 1;
    }
    DropUnplottedSelection();
}

bool CSpectralPlot::DropUnplottedSelection() {
    // A pick stands on a plotted point, or there is none: the marker, the
    // wavelength shown and the radiances listed all follow the same pick.
    if (m_nSelected < 0 || m_nSelected >= static_cast<int>(m_geometry.plotted.size()) ||
        m_geometry.plotted[m_nSelected])
        return false;
    m_bHasSelection = false;
    m_nSelected = -1;
    return true;
}

void CSpectralPlot::Recompute() {
    m_geometry = plotscale::ComputeGeometry(m_points, m_nRadianceUnit, size());
}

bool CSpectralPlot::InPlotArea(QPointF position) const {
    const QRectF& area = m_geometry.area;
    return !area.isEmpty() && position.x() >= area.left() && position.x() < area.right() &&
           position.y() >= area.top() && position.y() < area.bottom();
}

void CSpectralPlot::resizeEvent(QResizeEvent* event) {
    Recompute();
    QWidget::resizeEvent(event);
}

void CSpectralPlot::paintEvent(QPaintEvent*) {
    const plotscale::PlotGeometry& g = m_geometry;
    const QRectF& area = g.area;
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient background(0.0, 0.0, 0.0, height());
    background.setColorAt(0.0, QColor::fromRgba(0xFFFAFAFA));
    background.setColorAt(1.0, QColor::fromRgba(0xFFEBEBEB));
    painter.fillRect(rect(), background);
    painter.fillRect(area, Qt::white);

    // Radiance grid and labels.
    const QFont labelFont = Arial(9);
    painter.setFont(labelFont);
    for (const plotscale::GridLine& line : g.grid) {
        if (line.major) {
            painter.setPen(QPen(QColor::fromRgba(kGridMajor), 1.0));
            painter.drawLine(QPointF(area.left() - 3.0, line.y), QPointF(area.right(), line.y));
            painter.setPen(Qt::black);
            painter.drawText(QRectF(0.0, line.y - 8.0, area.left() - 3.0, 100.0),
                             Qt::AlignRight | Qt::AlignTop, FromUtf8(plotscale::ExponentLabel(line.exponent)));
        } else {
            painter.setPen(QPen(QColor::fromRgba(kGridMinor), 1.0));
            painter.drawLine(QPointF(area.left(), line.y), QPointF(area.right(), line.y));
        }
    }

    // Wavelength ticks and labels.
    painter.setPen(QPen(QColor::fromRgba(kGridMajor), 1.0));
    for (double tick : g.ticks) {
        const double x = area.left() + (tick - g.xmin) * g.pixelsPerNm;
        painter.drawLine(QPointF(x, area.bottom() + 3.0), QPointF(x, area.bottom()));
    }
    painter.setPen(Qt::black);
    for (const TickLabel& label : TickLabels())
        painter.drawText(label.box, Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip, label.text);

    // Axis titles; the radiance title reads bottom to top.
    painter.setFont(Arial(11));
    const QString wavelengthTitle = QStringLiteral("Wavelength (%1)").arg(
        FromUtf8(displayunits::Wavelength(m_nWavelengthUnit).shortLabel));
    const QRectF titleBox(area.left() + area.width() / 2.0 - 300.0, height() - 25.0 - 50.0, 600.0, 100.0);
    painter.drawText(titleBox, Qt::AlignCenter, wavelengthTitle);
    const QString radianceTitle = QStringLiteral("%1 (%2)").arg(
        QString::fromUtf8(displayunits::kQuantityName),
        FromUtf8(displayunits::Radiance(m_nRadianceUnit).label));
    painter.save();
    painter.translate(10.0, area.top() + area.height() / 2.0);
    painter.rotate(-90.0);
    painter.drawText(QRectF(-400.0, 0.0, 800.0, 100.0), Qt::AlignHCenter | Qt::AlignTop, radianceTitle);
    painter.restore();

    painter.setPen(QPen(QColor::fromRgba(m_frameColor), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(area);
    painter.setRenderHint(QPainter::Antialiasing);

    // The curve and its dots in the colours of the spectrum.
    const QLinearGradient spectrum = SpectrumGradient(g);
    if (g.plottedCount > 0) {
        QPolygonF curve;
        curve.reserve(g.plottedCount);
        for (std::size_t i = 0; i < m_points.size(); ++i)
            if (g.plotted[i]) curve.append(g.screen[i]);
        painter.setPen(QPen(QBrush(spectrum), 2.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        painter.drawPolyline(curve);
        painter.setPen(Qt::NoPen);
        painter.setBrush(spectrum);
        // A dot within half a pixel of the last one drawn would change no
        // pixel that matters, and a dense table would spend its paint on them.
        QPointF last(-1e9, -1e9);
        for (const QPointF& point : curve) {
            if (std::fabs(point.x() - last.x()) < 0.5 && std::fabs(point.y() - last.y()) < 0.5) continue;
            painter.drawEllipse(point, 2.5, 2.5);
            last = point;
        }
    }

    const auto plotted = [&](int index) {
        return index >= 0 && index < static_cast<int>(m_points.size()) && g.plotted[index];
    };
    if (m_bHasSelection && plotted(m_nSelected))
        DrawMarker(painter, g.screen[m_nSelected], area.bottom(), true);

    if (m_bHoverTracking && plotted(m_nHover)) {
        const QPointF point = g.screen[m_nHover];
        const QString text =
            FromUtf8(plotscale::HoverText(m_points[m_nHover], m_nWavelengthUnit, m_nRadianceUnit));
        painter.setFont(labelFont);
        const QRectF bounds = QFontMetricsF(labelFont).boundingRect(QRectF(), Qt::AlignLeft, text);
        const double left = plotscale::HoverTextLeft(point.x(), bounds.width(), area.left());
        const QRectF textRect(left, point.y() - 5.0 - bounds.height(), bounds.width(), bounds.height());
        const QRectF box = textRect.adjusted(-5.0, -5.0, 5.0, 5.0);
        QLinearGradient fill(0.0, box.top(), 0.0, box.bottom());
        fill.setColorAt(0.0, QColor::fromRgba(0xD2FAFAFA));
        fill.setColorAt(1.0, QColor::fromRgba(0xD2EBEBEB));
        painter.setPen(QPen(QColor::fromRgba(m_frameColor), 1.0));
        painter.setBrush(fill);
        painter.drawRect(box);
        painter.setPen(Qt::black);
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop, text);
        DrawMarker(painter, point, area.bottom(), false);
    }

    painter.setPen(QPen(QColor::fromRgba(m_frameColor), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(0.5, 0.5, width() - 1.0, height() - 1.0));
}

std::vector<CSpectralPlot::TickLabel> CSpectralPlot::TickLabels() const {
    const plotscale::PlotGeometry& g = m_geometry;
    const QFontMetricsF metrics(Arial(9));
    std::vector<TickLabel> labels;
    labels.reserve(g.ticks.size());
    double widest = 0.0;
    for (double tick : g.ticks) {
        const double x = g.area.left() + (tick - g.xmin) * g.pixelsPerNm;
        QString text = FromUtf8(displayunits::WavelengthTickText(tick, m_nWavelengthUnit));
        const double width = metrics.horizontalAdvance(text);
        widest = std::max(widest, width);
        labels.push_back({QRectF(x - width / 2.0, g.area.bottom() + 8.0, width, metrics.height()), std::move(text)});
    }
    const auto stride = static_cast<std::size_t>(plotscale::TickLabelStride(g, widest));
    if (stride > 1) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < labels.size(); i += stride) labels[kept++] = std::move(labels[i]);
        labels.resize(kept);
    }
    return labels;
}

void CSpectralPlot::mouseMoveEvent(QMouseEvent* event) {
    const QPointF position = event->position();
    emit MouseMoved(position.toPoint());
    const bool inside = InPlotArea(position);
    setCursor(inside ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (inside && m_geometry.plottedCount > 0) {
        m_bHoverTracking = true;
        const int hover = plotscale::NearestPoint(m_points, m_geometry,
                                                  plotscale::WavelengthAt(m_geometry, position.x()));
        if (hover != m_nHover) {
            m_nHover = hover;
            update();
        }
    } else if (m_bHoverTracking) {
        m_bHoverTracking = false;
        m_nHover = -1;
        update();
    }
}

void CSpectralPlot::leaveEvent(QEvent* event) {
    m_bHoverTracking = false;
    m_nHover = -1;
    update();
    QWidget::leaveEvent(event);
}

void CSpectralPlot::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const QPointF position = event->position();
    if (InPlotArea(position)) {
        // A click with no move before it (a touch, a synthesised click) has
        // no hover yet; it picks the point under it all the same.
        m_nHover = plotscale::NearestPoint(m_points, m_geometry,
                                           plotscale::WavelengthAt(m_geometry, position.x()));
        m_nSelected = m_nHover;
        m_bHasSelection = true;
    } else {
        m_nHover = -1;
        m_nSelected = -1;
        m_bHasSelection = false;
    }
    update();
    emit SelectionChanged(m_nSelected);
}

void CSpectralPlot::StepSelection(int direction) {
    const int count = static_cast<int>(m_points.size());
    if (!m_bHasSelection || m_nSelected < 0 || m_nSelected >= count) return;
    // Points with no place on the axis are stepped over.
    for (int index = m_nSelected + direction; index >= 0 && index < count; index += direction) {
        if (m_geometry.plotted[index]) {
            m_nSelected = index;
            break;
        }
    }
    update();
    emit SelectionChanged(m_nSelected);
}

void CSpectralPlot::keyPressEvent(QKeyEvent* event) {
    if (m_bHasSelection && (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)) {
        StepSelection(event->key() == Qt::Key_Left ? -1 : +1);
        return;
    }
    QWidget::keyPressEvent(event);
}
