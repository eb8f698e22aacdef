// The spectral plot's axes, scales and hit test.
#include "PlotScale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "DisplayUnits.h"

namespace plotscale {

namespace {

// Ticks beyond this many are thinned by widening the step tenfold, so a
// table of absurd wavelengths cannot make a paint run for ever.
constexpr double kMaxTicks = 1000.0;

// The converted radiance as the axis sees it, or 0 when the point has no
// place on the plot: no light has a wavelength of zero or below, so such a
// point is left out as a radiance of zero is.
float Plottable(const DataPoint& point, int radianceUnit) {
    if (!std::isfinite(point.wavelength) || !(point.wavelength > 0.0f)) return 0.0f;
    const float converted = static_cast<float>(
        displayunits::ConvertRadiance(point.radiance, point.wavelength, radianceUnit));
    return std::isfinite(converted) && converted > 0.0f ? converted : 0.0f;
}

double PowerOfTen(int exponent) {
    double value = 1.0;
    for (int i = 0; i < exponent; ++i) value *= 10.0;
    for (int i = 0; i > exponent; --i) value /= 10.0;
    return value;
}

}  // namespace

QRectF PlotArea(QSize client) {
    const double width = std::max(0, client.width() - kInsetLeft - kInsetRight);
    const double height = std::max(0, client.height() - kInsetTop - kInsetBottom);
    return {double(kInsetLeft), double(kInsetTop), width, height};
}

int LowerExponent(float value) {
    int exponent = 0;
    if (value < 1.0f) {
        while (value < 1.0f) {
            value = value * 10.0f;
            --exponent;
        }
    } else {
        while (value > 10.0f) {
            value = value / 10.0f;
            ++exponent;
        }
    }
    return exponent;
}

int UpperExponent(float value) { return LowerExponent(value) + 1; }

int WavelengthStep(int n) {
    static constexpr int kLimits[] = {5, 10, 25, 50, 75, 100, 150, 250, 500, 750, 1000, 2500, 5000};
    for (int limit : kLimits)
        if (n < limit) return limit;
    return 10000;
}

PlotGeometry ComputeGeometry(const std::vector<DataPoint>& points, int radianceUnit,
                             QSize client) {
    PlotGeometry g;
    g.area = PlotArea(client);
    g.screen.assign(points.size(), QPointF());
    g.plotted.assign(points.size(), false);

    // Radiance axis: the smallest and largest radiance (first wins on ties),
    // each converted at its own wavelength.
    float minConverted = 0.0f, maxConverted = 0.0f;
    float minRadiance = 0.0f, maxRadiance = 0.0f;
    float minWavelength = 0.0f, maxWavelength = 0.0f;
    std::vector<float> converted(points.size(), 0.0f);
    for (std::size_t i = 0; i < points.size(); ++i) {
        converted[i] = Plottable(points[i], radianceUnit);
        if (converted[i] <= 0.0f) continue;
        const DataPoint& p = points[i];
        if (g.plottedCount == 0) {
            minRadiance = maxRadiance = p.radiance;
            minConverted = maxConverted = converted[i];
            minWavelength = maxWavelength = p.wavelength;
        } else {
            if (p.radiance < minRadiance) minRadiance = p.radiance, minConverted = converted[i];
            if (p.radiance > maxRadiance) maxRadiance = p.radiance, maxConverted = converted[i];
            minWavelength = std::min(minWavelength, p.wavelength);
            maxWavelength = std::max(maxWavelength, p.wavelength);
        }
        g.plotted[i] = true;
        ++g.plottedCount;
    }
    if (g.plottedCount == 0) {
        minConverted = static_cast<float>(displayunits::ConvertRadiance(1e-9f, 350.0f, radianceUnit));
        maxConverted = static_cast<float>(displayunits::ConvertRadiance(1e-6f, 1150.0f, radianceUnit));
        minWavelength = 400.0f;
        maxWavelength = 1100.0f;
    }
    g.lowerExponent = LowerExponent(minConverted);
    g.upperExponent = UpperExponent(maxConverted);
    const int decades = std::max(1, g.upperExponent - g.lowerExponent);
    g.pixelsPerDecade = g.area.height() / decades;

    const double bottom = g.area.bottom();
    for (int n = g.lowerExponent; n <= g.upperExponent; ++n) {
        const double power = PowerOfTen(n);
        for (int q = 1; q <= 9; ++q) {
            const double y = bottom - (std::log10(q * power) - g.lowerExponent) * g.pixelsPerDecade;
            g.grid.push_back({y, n, q == 1});
            if (q == 1 && n == g.upperExponent) break;
        }
    }

    // Wavelength axis from the step table; a narrow plot still has one slot
    // and a span that rounds to nothing still one step.
    const int labelSlots = std::max(1, static_cast<int>(g.area.width()) / 50);
    const double perSlot = (double(maxWavelength) - double(minWavelength)) / labelSlots;
    const int n = perSlot < double(std::numeric_limits<int>::max()) ? static_cast<int>(perSlot)
                                                                     : std::numeric_limits<int>::max();
    g.step = WavelengthStep(n);
    g.xmin = std::floor(minWavelength / g.step) * g.step;
    g.xmax = std::ceil(maxWavelength / g.step) * g.step;
    while ((g.xmax - g.xmin) / g.step > kMaxTicks) {
        g.step *= 10.0;
        g.xmin = std::floor(minWavelength / g.step) * g.step;
        g.xmax = std::ceil(maxWavelength / g.step) * g.step;
    }
    if (!(g.xmax > g.xmin)) g.xmax = g.xmin + g.step;
    g.pixelsPerNm = g.area.width() / (g.xmax - g.xmin);
    const auto tickCount = static_cast<int>(std::llround((g.xmax - g.xmin) / g.step));
    for (int i = 0; i <= tickCount; ++i) g.ticks.push_back(g.xmin + i * g.step);

    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!g.plotted[i]) continue;
        g.screen[i] = QPointF(
            g.area.left() + (points[i].wavelength - g.xmin) * g.pixelsPerNm,
            bottom - (std::log10(converted[i]) - g.lowerExponent) * g.pixelsPerDecade);
    }
    return g;
}

int TickLabelStride(const PlotGeometry& g, double widestLabel) {
    // Room between two labels, so that neighbours read as two numbers.
    constexpr double kLabelGap = 8.0;
    const int ticks = static_cast<int>(g.ticks.size());
    const double spacing = g.step * g.pixelsPerNm;
    if (ticks <= 1) return 1;
    if (!(spacing > 0.0) || !std::isfinite(spacing)) return ticks;
    const double stride = std::ceil((std::max(0.0, widestLabel) + kLabelGap) / spacing);
    return stride < ticks ? std::max(1, static_cast<int>(stride)) : ticks;
}

double WavelengthAt(const PlotGeometry& g, double x) {
    if (g.area.width() <= 0.0) return g.xmin;
    return g.xmin + (x - g.area.left()) / g.area.width() * (g.xmax - g.xmin);
}

int NearestPoint(const std::vector<DataPoint>& points, const PlotGeometry& g, double wavelength) {
    int nearest = -1;
    double best = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < points.size() && i < g.plotted.size(); ++i) {
        if (!g.plotted[i]) continue;
        const double distance = std::fabs(double(points[i].wavelength) - wavelength);
        if (nearest < 0 || distance < best) {
            best = distance;
            nearest = static_cast<int>(i);
        }
    }
    return nearest;
}

std::array<std::pair<double, std::uint32_t>, 9> SpectrumStops(double xmin, double xmax) {
    const auto p = [&](double w) {
        const double span = xmax - xmin;
        return span > 0.0 ? std::clamp((w - xmin) / span, 0.0, 1.0) : 0.0;
    };
    return {{{0.0, 0xFFEE82EE},
             {p(400), 0xFFEE82EE},
             {p(445), 0xFF4B0082},
             {p(475), 0xFF0000FF},
             {p(510), 0xFF008000},
             {p(570), 0xFFFFFF00},
             {p(590), 0xFFFFA500},
             {p(650), 0xFFFF0000},
             {1.0, 0xFF8B0000}}};
}

std::string HoverText(const DataPoint& point, int wavelengthUnit, int radianceUnit) {
    return "Wavelength: " + displayunits::WavelengthText(point.wavelength, wavelengthUnit) +
           "\nSpectral Radiance: " +
           displayunits::Format(
               "%.3E", displayunits::ConvertRadiance(point.radiance, point.wavelength, radianceUnit));
}

double HoverTextLeft(double pointX, double textWidth, double plotLeft) {
    const double boxWidth = textWidth + 10.0;
    return boxWidth > pointX - plotLeft ? pointX + 5.0 : pointX + 5.0 - boxWidth;
}

std::string ExponentLabel(int exponent) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "1.0E%+03d", exponent);
    return buffer;
}

}  // namespace plotscale
