// The spectral plot's arithmetic, apart from any widget: the plot area, the
// logarithmic radiance axis and its exponent search, the wavelength axis
// and its step table, the screen position of every point, the spectrum
// gradient's stops, the hover box's place and the nearest-point hit test.
// CSpectralPlot computes one PlotGeometry per paint and draws from it.
// Pure functions of their arguments, callable from any thread.
//
// Points that have no place on the plot (a radiance that is zero, negative
// or not finite once converted, or a wavelength that is zero, negative or
// not finite) are left out of both axes, the curve and the hit test, so
// they can never be picked; a table with no other point gets the axes of
// an empty one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <QPointF>
#include <QRectF>
#include <QSize>

namespace plotscale {

struct DataPoint {
    float wavelength;  // nm
    float radiance;    // W/m^2/sr/nm
};

// The plot area's distances to the control's edges.
inline constexpr int kInsetLeft = 90;
inline constexpr int kInsetTop = 40;
inline constexpr int kInsetRight = 40;
inline constexpr int kInsetBottom = 60;

// The client rectangle less the insets; empty (never negative) when the
// control is smaller than its insets.
QRectF PlotArea(QSize client);

// The exponent search, in single precision as the axis has always been
// drawn: a value of 10 gives a lower exponent of 0, a value of 1 an upper
// exponent of 1. The value must be finite and positive.
int LowerExponent(float value);
int UpperExponent(float value);

// The wavelength axis step for a span of `nmPerSlot` nanometres per label.
int WavelengthStep(int nmPerSlot);

struct GridLine {
    double y;
    int exponent;  // n of q x 10^n
    bool major;    // q == 1: darker, longer and labelled
};

struct PlotGeometry {
    QRectF area;
    int lowerExponent = -10;  // a
    int upperExponent = -6;   // b
    double pixelsPerDecade = 0.0;
    double xmin = 400.0;  // nm, the axis ends
    double xmax = 1100.0;
    double step = 100.0;
    double pixelsPerNm = 0.0;
    std::vector<double> ticks;  // nm
    std::vector<GridLine> grid;
    // One per data point; `plotted[i]` is false for a point left out.
    std::vector<QPointF> screen;
    std::vector<bool> plotted;
    int plottedCount = 0;
};

// Everything one paint of `points` in radiance unit `radianceUnit` needs.
PlotGeometry ComputeGeometry(const std::vector<DataPoint>& points, int radianceUnit,
                             QSize client);

// Every how many ticks a wavelength label is drawn, so that labels at most
// `widestLabel` px wide, centred on their ticks, never touch: 1 on any
// table the step table was made for, more on an absurd span, whose ticks
// all stay but whose every label would merge into one bar.
int TickLabelStride(const PlotGeometry& geometry, double widestLabel);

// The wavelength under screen x inside the plot area.
double WavelengthAt(const PlotGeometry& geometry, double x);

// The plotted point whose wavelength is nearest (the first one on ties);
// -1 when no point is plotted.
int NearestPoint(const std::vector<DataPoint>& points, const PlotGeometry& geometry,
                 double wavelength);

// The nine stops of the curve's spectrum gradient across the plot area:
// (position 0..1, ARGB colour).
std::array<std::pair<double, std::uint32_t>, 9> SpectrumStops(double xmin, double xmax);

// The hover text "Wavelength: 630.0 nm\nSpectral Radiance: 1.234E-07".
std::string HoverText(const DataPoint& point, int wavelengthUnit, int radianceUnit);

// The left edge of the hover text beside the point at `pointX`: to the left
// of the point unless its box (text width + 10) is wider than the room
// between the plot's left edge and the point.
double HoverTextLeft(double pointX, double textWidth, double plotLeft);

// "1.0E-07" for exponent -7.
std::string ExponentLabel(int exponent);

}  // namespace plotscale
