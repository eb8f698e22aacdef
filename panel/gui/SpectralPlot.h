// The spectral plot: the head's spectral table on a logarithmic radiance
// axis, with a hover box for the point under the mouse and a picked point
// that the mouse or the Left and Right keys choose. The arithmetic lives in
// PlotScale; this widget keeps the state and paints it.
//
// Ownership and threads: a child of the main view, GUI thread only. Data
// come in by value through LoadData; the pick goes out by the
// SelectionChanged signal.
#pragma once

#include <vector>

#include <QColor>
#include <QWidget>

#include "CalibrationData.h"
#include "PlotScale.h"

class CSpectralPlot : public QWidget {
    Q_OBJECT
public:
    explicit CSpectralPlot(QWidget* parent = nullptr);

    // The frame colour of the outlines (ARGB).
    void SetFrameColor(QRgb color);
    void SetDisplayUnits(int wavelengthUnit, int radianceUnit);
    // Replaces the points with the spectral table, in table order. The
    // selection survives, clamped to the new table; the hover is cleared.
    void LoadData(const std::vector<CSpectralData>& table);
    void LoadPoints(std::vector<plotscale::DataPoint> points);

    int SelectedIndex() const { return m_bHasSelection ? m_nSelected : -1; }
    int HoverIndex() const { return m_nHover; }
    const std::vector<plotscale::DataPoint>& Points() const { return m_points; }
    // The geometry of the last paint, for hit tests and tests.
    const plotscale::PlotGeometry& Geometry() const { return m_geometry; }
    // The wavelength labels the last geometry draws under its ticks, with
    // the boxes they take: thinned so that no two touch.
    struct TickLabel {
        QRectF box;
        QString text;
    };
    std::vector<TickLabel> TickLabels() const;
    // Moves the pick one point left (-1) or right (+1), as the arrow keys
    // do; nothing without a pick.
    void StepSelection(int direction);

    QSize sizeHint() const override { return {700, 540}; }

signals:
    // A pick made or cleared: the point's index, or -1.
    void SelectionChanged(int index);
    // Every mouse move over the plot, in plot coordinates.
    void MouseMoved(QPoint position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Recompute();
    bool InPlotArea(QPointF position) const;
    void ClampIndices();
    // Clears a pick whose point is no longer plotted; true when it did.
    bool DropUnplottedSelection();

    std::vector<plotscale::DataPoint> m_points;
    plotscale::PlotGeometry m_geometry;
    QRgb m_frameColor = 0xFF141414;
    int m_nWavelengthUnit = 0;
    int m_nRadianceUnit = 0;
    bool m_bHoverTracking = false;
    int m_nHover = -1;
    bool m_bHasSelection = false;
    int m_nSelected = -1;
};
