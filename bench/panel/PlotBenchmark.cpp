// Paint cost of the main view's two busy widgets, rendered into an image
// on Qt's raster engine (the offscreen platform when no display is set):
// - the spectral plot at its 700x540 size with the simulated head's 81
//   points, 630 nm picked and the mouse hovering 800 nm;
// - the same with a smooth 10,000-point spectrum (1e-8..1e-6 W/m^2/sr/nm
//   from 350 to 1150 nm), to see how the curve, the dots and the gradient
//   pen scale with the table;
// - the aperture list with the head's 36 entries and radiance texts, at its
//   size in the view and tall enough to show every item.
// Figures are printed in ms per paint; nothing is asserted.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>

#include <benchmark/benchmark.h>

#include "ApertureItems.h"
#include "ApertureListBox.h"
#include "CalibrationData.h"
#include "DisplayUnits.h"
#include "HeadSimulator.h"
#include "SpectralPlot.h"

namespace {

constexpr double kPickNm = 630.0;
constexpr double kHoverNm = 800.0;

CCalibrationData FactoryCalibration() {
    CCalibrationData calibration;
    calibration.FillFromHead(sim::CHeadSimulator::FactoryApertureRows(),
                             sim::CHeadSimulator::FactorySpectrum());
    return calibration;
}

std::vector<plotscale::DataPoint> FactoryPoints() {
    std::vector<plotscale::DataPoint> points;
    for (const auto& [nm, radiance] : sim::CHeadSimulator::FactorySpectrum())
        points.push_back({static_cast<float>(nm), static_cast<float>(radiance)});
    return points;
}

// A broad lamp-like hump with a gentle ripple, so the curve has a slope
// almost everywhere, spanning two decades.
std::vector<plotscale::DataPoint> SyntheticPoints(int count) {
    std::vector<plotscale::DataPoint> points;
    points.reserve(count);
    for (int i = 0; i < count; ++i) {
        const double nm = 350.0 + 800.0 * i / (count - 1);
        const double hump = std::exp(-std::pow((nm - 820.0) / 260.0, 2.0));
        const double ripple = 0.05 * std::sin(nm / 23.0);
        const double decades = std::clamp(hump + ripple, 0.0, 1.0) * 2.0;
        points.push_back({static_cast<float>(nm), static_cast<float>(1e-8 * std::pow(10.0, decades))});
    }
    return points;
}

int NearestIndex(const std::vector<plotscale::DataPoint>& points, double nm) {
    int best = 0;
    for (int i = 1; i < static_cast<int>(points.size()); ++i)
        if (std::fabs(points[i].wavelength - nm) < std::fabs(points[best].wavelength - nm)) best = i;
    return best;
}

void SendMouse(QWidget& widget, QEvent::Type type, QPointF at, Qt::MouseButton button) {
    QMouseEvent event(type, at, widget.mapToGlobal(at), button, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

// Picked and hovered through the plot's own mouse handlers, as an operator
// would, so the paint includes the marker, the hover box and its text.
void PickAndHover(CSpectralPlot& plot) {
    const auto& screen = plot.Geometry().screen;
    const QPointF pick = screen[NearestIndex(plot.Points(), kPickNm)];
    SendMouse(plot, QEvent::MouseMove, pick, Qt::NoButton);
    SendMouse(plot, QEvent::MouseButtonRelease, pick, Qt::LeftButton);
    SendMouse(plot, QEvent::MouseMove, screen[NearestIndex(plot.Points(), kHoverNm)], Qt::NoButton);
}

void RenderLoop(benchmark::State& state, QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        widget.render(&image);
        benchmark::DoNotOptimize(image.constBits());
        benchmark::ClobberMemory();
    }
}

void PlotPaint(benchmark::State& state, std::vector<plotscale::DataPoint> points) {
    CSpectralPlot plot;
    plot.resize(700, 540);
    plot.show();
    QCoreApplication::processEvents();
    plot.LoadPoints(std::move(points));
    PickAndHover(plot);
    if (plot.SelectedIndex() < 0 || plot.HoverIndex() < 0) {
        state.SkipWithError("the pick or the hover did not take");
        return;
    }
    state.counters["points"] = static_cast<double>(plot.Points().size());
    RenderLoop(state, plot);
}

void BM_PlotFactory81(benchmark::State& state) { PlotPaint(state, FactoryPoints()); }
void BM_Plot10000(benchmark::State& state) { PlotPaint(state, SyntheticPoints(10000)); }

// state.range(0): the list's height; 300 is its size in the view.
void BM_ApertureList36(benchmark::State& state) {
    const CCalibrationData calibration = FactoryCalibration();
    const CSpectralData& picked =
        calibration.m_spectralData[NearestIndex(FactoryPoints(), kPickNm)];
    CApertureListBox list;
    list.resize(200, static_cast<int>(state.range(0)));
    list.SetEntries(apertureitems::ListOrder(calibration.m_apertureData));
    CApertureListBox::Content content;
    content.stored = calibration.m_apertureData;
    content.pickedRadiance = displayunits::ConvertRadiance(picked.m_dRadiance, picked.m_dWavelength, 0);
    list.SetContent(std::move(content));
    list.setCurrentRow(2);
    list.show();
    QCoreApplication::processEvents();
    state.counters["items"] = list.count();
    RenderLoop(state, list);
}

BENCHMARK(BM_PlotFactory81)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plot10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApertureList36)->Arg(300)->Arg(36 * CApertureListBox::kItemHeight + 4)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const bool noDisplay = qEnvironmentVariableIsEmpty("DISPLAY") &&
                           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (noDisplay && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // QApplication keeps a reference to argc for its whole life.
    static int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
