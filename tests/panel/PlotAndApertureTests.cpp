// The view's arithmetic without widgets: display units, the plot's scales
// and hit test, the aperture list's order and texts, and the move worker.
#include <cmath>
#include <limits>
#include <thread>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "ApertureItems.h"
#include "ApertureMover.h"
#include "DisplayUnits.h"
#include "PlotScale.h"
#include "TestEvent.h"
#include "TestSupport.h"

using plotscale::DataPoint;

namespace {

std::vector<DataPoint> Points(std::initializer_list<std::pair<float, float>> list) {
    std::vector<DataPoint> points;
    for (auto [w, r] : list) points.push_back({w, r});
    return points;
}

const QSize kPlotSize(700, 540);

}  // namespace

TEST(DisplayUnits, ConversionsAndTexts) {
    // R/nm scales with the wavelength in metres; the W rows do not.
    EXPECT_DOUBLE_EQ(displayunits::ConvertRadiance(2e-7, 500.0, 0), 2e-7);
    EXPECT_DOUBLE_EQ(displayunits::ConvertRadiance(2e-7, 500.0, 1), 2e-5);
    EXPECT_NEAR(displayunits::ConvertRadiance(2e-7, 500.0, 2), 500e-9 * 6.33186e15 * 2e-7, 1e-6);
    EXPECT_NEAR(displayunits::ConvertRadiance(2e-7, 500.0, 5), 500e-9 * 6.33186e11 * 2e-7, 1e-10);
    EXPECT_EQ(displayunits::WavelengthText(630.0, 0), "630.0 nm");
    EXPECT_EQ(displayunits::WavelengthText(630.0, 1), "6300 \u00C5");
    EXPECT_EQ(displayunits::WavelengthTickText(450.0, 1), "4500");
    // A hand-edited setting beyond the table reads as its first row.
    EXPECT_STREQ(displayunits::Radiance(99).label, "W/m^2/sr/nm");
    EXPECT_STREQ(displayunits::Wavelength(-1).shortLabel, "nm");
}

TEST(PlotScale, ExponentSearchInSinglePrecision) {
    // 1e-9 as a float reaches only 0.99999994 after nine multiplications.
    EXPECT_EQ(plotscale::LowerExponent(1e-9f), -10);
    EXPECT_EQ(plotscale::UpperExponent(1e-6f), -6);
    EXPECT_EQ(plotscale::LowerExponent(10.0f), 0);
    EXPECT_EQ(plotscale::UpperExponent(1.0f), 1);
    EXPECT_EQ(plotscale::LowerExponent(345.0f), 2);
    EXPECT_EQ(plotscale::LowerExponent(std::numeric_limits<float>::denorm_min()), -45);
    EXPECT_EQ(plotscale::ExponentLabel(-7), "1.0E-07");
    EXPECT_EQ(plotscale::ExponentLabel(3), "1.0E+03");
}

TEST(PlotScale, WavelengthStepTable) {
    const std::pair<int, int> cases[] = {{0, 5},     {4, 5},      {5, 10},     {24, 25},   {49, 50},
                                         {74, 75},   {99, 100},   {149, 150},  {249, 250}, {499, 500},
                                         {749, 750}, {999, 1000}, {2499, 2500}, {4999, 5000}, {5000, 10000}};
    for (auto [n, step] : cases) EXPECT_EQ(plotscale::WavelengthStep(n), step) << n;
}

TEST(PlotScale, GeometryOfNoDataAndOfATable) {
    const plotscale::PlotGeometry empty = plotscale::ComputeGeometry({}, 0, kPlotSize);
    EXPECT_EQ(empty.area, QRectF(90, 40, 570, 440));
    EXPECT_EQ(empty.lowerExponent, -10);
    EXPECT_EQ(empty.upperExponent, -6);
    // 400..1100 nm over 11 label slots: a step of 75.
    EXPECT_EQ(empty.xmin, 375.0);
    EXPECT_EQ(empty.xmax, 1125.0);
    EXPECT_EQ(empty.plottedCount, 0);
    // Nine lines per decade and one more for the top decade.
    EXPECT_EQ(empty.grid.size(), 4u * 9u + 1u);
    EXPECT_DOUBLE_EQ(empty.grid.front().y, empty.area.bottom());
    EXPECT_NEAR(empty.grid.back().y, empty.area.top(), 1e-9);

    // 11 slots of 50 px over 800 nm: 72 nm per slot, a step of 75.
    const auto points = Points({{350, 2e-8f}, {630, 3e-7f}, {1150, 2e-7f}});
    const plotscale::PlotGeometry g = plotscale::ComputeGeometry(points, 0, kPlotSize);
    EXPECT_EQ(g.step, 75.0);
    EXPECT_EQ(g.xmin, 300.0);
    EXPECT_EQ(g.xmax, 1200.0);
    EXPECT_EQ(g.ticks.size(), 13u);
    EXPECT_EQ(g.lowerExponent, -8);
    EXPECT_EQ(g.upperExponent, -6);
    EXPECT_NEAR(g.screen[0].x(), 90 + 50 * 570.0 / 900.0, 1e-9);
    EXPECT_NEAR(g.screen[0].y(), g.area.bottom() - std::log10(2.0) * g.pixelsPerDecade, 1e-3);

    // R/nm scales each point by its own wavelength, so the shape changes.
    const plotscale::PlotGeometry rayleigh = plotscale::ComputeGeometry(points, 2, kPlotSize);
    EXPECT_NE(rayleigh.screen[1].y() - rayleigh.screen[2].y(), g.screen[1].y() - g.screen[2].y());
}

TEST(PlotScale, DegenerateTablesAndSizesStayFinite) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Points with no place on a log axis are left out; none left is no data.
    const auto unplottable = Points({{500, 0.0f}, {600, -1e-7f}, {700, inf}, {nan, 1e-7f}, {800, nan}});
    const plotscale::PlotGeometry none = plotscale::ComputeGeometry(unplottable, 0, kPlotSize);
    EXPECT_EQ(none.plottedCount, 0);
    EXPECT_EQ(none.lowerExponent, -10);
    EXPECT_EQ(plotscale::NearestPoint(unplottable, none, 600.0), -1);

    auto mixed = unplottable;
    mixed.push_back({650, 2e-7f});
    const plotscale::PlotGeometry one = plotscale::ComputeGeometry(mixed, 0, kPlotSize);
    EXPECT_EQ(one.plottedCount, 1);
    EXPECT_EQ(plotscale::NearestPoint(mixed, one, 500.0), 5);
    // A single point still gets an axis one step wide.
    EXPECT_EQ(one.xmax - one.xmin, one.step);
    EXPECT_TRUE(std::isfinite(one.screen[5].x()));

    // Smaller than the insets, or narrower than one label: no division by 0.
    for (QSize size : {QSize(0, 0), QSize(100, 80), QSize(170, 300)}) {
        const plotscale::PlotGeometry g = plotscale::ComputeGeometry(mixed, 0, size);
        EXPECT_GE(g.area.width(), 0.0);
        EXPECT_TRUE(std::isfinite(g.pixelsPerNm) && std::isfinite(g.pixelsPerDecade));
        EXPECT_TRUE(std::isfinite(g.screen[5].x()) && std::isfinite(g.screen[5].y()));
        EXPECT_TRUE(std::isfinite(plotscale::WavelengthAt(g, 95.0)));
    }

    // No light has a wavelength of zero or below: such points are left out.
    const auto negative = Points({{-500, 1e-6f}, {0, 1e-6f}, {630, 2e-7f}});
    const plotscale::PlotGeometry skipped = plotscale::ComputeGeometry(negative, 0, kPlotSize);
    EXPECT_EQ(skipped.plotted, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(skipped.upperExponent, -6);  // the 1e-6 points do not reach the axis
    EXPECT_GT(skipped.xmin, 0.0);
    EXPECT_EQ(plotscale::NearestPoint(negative, skipped, -500.0), 2);

    // Absurd wavelengths thin the ticks instead of painting for ever, and
    // their long labels are thinned further so that none touch; a table
    // the step table was made for keeps every label.
    const auto wide = Points({{1.0f, 1e-7f}, {3e38f, 1e-7f}});
    const plotscale::PlotGeometry absurd = plotscale::ComputeGeometry(wide, 0, kPlotSize);
    EXPECT_LE(absurd.ticks.size(), 1001u);
    const double labelWidth = 39 * 7.0;  // "%.0f" of 3e38 nm at about 7 px a digit
    const int stride = plotscale::TickLabelStride(absurd, labelWidth);
    EXPECT_GT(stride * absurd.step * absurd.pixelsPerNm, labelWidth);
    EXPECT_LT(absurd.ticks.size() / static_cast<std::size_t>(stride), 5u);
    EXPECT_EQ(plotscale::TickLabelStride(plotscale::ComputeGeometry({}, 0, kPlotSize), 30.0), 1);
    // With no width at all every tick is at one place: one label.
    const plotscale::PlotGeometry flat = plotscale::ComputeGeometry({}, 0, QSize(0, 0));
    EXPECT_EQ(plotscale::TickLabelStride(flat, 30.0), static_cast<int>(flat.ticks.size()));
}

TEST(PlotScale, NearestPointSpectrumStopsAndHoverBox) {
    const auto points = Points({{400, 1e-7f}, {410, 1e-7f}, {420, 1e-7f}});
    const plotscale::PlotGeometry g = plotscale::ComputeGeometry(points, 0, kPlotSize);
    EXPECT_EQ(plotscale::NearestPoint(points, g, 0.0), 0);
    EXPECT_EQ(plotscale::NearestPoint(points, g, 405.0), 0);  // the first on ties
    EXPECT_EQ(plotscale::NearestPoint(points, g, 406.0), 1);
    EXPECT_EQ(plotscale::NearestPoint(points, g, 1e9), 2);
    EXPECT_DOUBLE_EQ(plotscale::WavelengthAt(g, g.area.left()), g.xmin);

    const auto stops = plotscale::SpectrumStops(400.0, 1100.0);
    EXPECT_EQ(stops[1].first, 0.0);
    EXPECT_DOUBLE_EQ(stops[7].first, 250.0 / 700.0);
    EXPECT_EQ(stops[7].second, 0xFFFF0000u);
    EXPECT_EQ(plotscale::SpectrumStops(600.0, 700.0)[2].first, 0.0);

    EXPECT_EQ(plotscale::HoverText({630.0f, 1.234e-7f}, 0, 0),
              "Wavelength: 630.0 nm\nSpectral Radiance: 1.234E-07");
    // Left of the point while the box fits between the plot's edge and it.
    EXPECT_DOUBLE_EQ(plotscale::HoverTextLeft(400.0, 100.0, 90.0), 400.0 + 5.0 - 110.0);
    EXPECT_DOUBLE_EQ(plotscale::HoverTextLeft(150.0, 100.0, 90.0), 155.0);
}

TEST(ApertureItems, TextsOrderAndDefaults) {
    EXPECT_EQ(apertureitems::FactorText(150.0), "150%");
    EXPECT_EQ(apertureitems::FactorText(12.34), "12.3%");
    EXPECT_EQ(apertureitems::FactorText(1.5), "1.50%");
    EXPECT_EQ(apertureitems::FactorText(0.25), "0.250%");
    EXPECT_EQ(apertureitems::FactorText(0.05), "0.0500%");
    EXPECT_EQ(apertureitems::FactorText(0.005), "0.00500%");
    EXPECT_EQ(apertureitems::RadianceText(1.2344e-7), "1.234E-07");
    EXPECT_EQ(apertureitems::PositionText(0, 11), "(1,12)");
    EXPECT_EQ(apertureitems::ItemText(0, 11), "Position (0,11)");

    const auto defaults = apertureitems::ListOrder({});
    ASSERT_EQ(defaults.size(), 36u);
    EXPECT_EQ(defaults[13].m_nPrimaryPosition, 1);
    EXPECT_EQ(defaults[13].m_nSecondaryPosition, 1);
    EXPECT_EQ(defaults[35].m_nSecondaryPosition, 11);

    // Increasing factors; equal ones in the reverse of their stored order.
    const std::vector<CApertureData> stored{{5.0, 0, 0}, {1.0, 0, 1}, {5.0, 0, 2}, {0.1, 0, 3}, {5.0, 0, 4}};
    std::vector<int> secondaries;
    for (const CApertureData& entry : apertureitems::ListOrder(stored))
        secondaries.push_back(entry.m_nSecondaryPosition);
    EXPECT_EQ(secondaries, (std::vector<int>{3, 1, 4, 2, 0}));

    // The last of several matching entries counts; none is -1.
    EXPECT_EQ(apertureitems::FactorAt({{1.0, 2, 3}, {7.0, 2, 3}}, 2, 3), 7.0);
    EXPECT_EQ(apertureitems::FactorAt(stored, 2, 3), -1.0);
    EXPECT_EQ(apertureitems::ItemRadiance(50.0, 4e-7), 2e-7);
    EXPECT_EQ(apertureitems::ItemRadiance(50.0, -1.0), -1.0);
    EXPECT_EQ(apertureitems::ItemRadiance(-1.0, 4e-7), -1.0);
}

TEST(ApertureMover, MovesOffTheCallersThreadOneAtATimeAndReportsBack) {
    int argc = 1;
    char name[] = "panel_core_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    testsupport::CTestEvent release(true);
    std::thread::id moverThread;
    void* seenHead = nullptr;
    CApertureMover mover([&](void* head, int primary, int secondary) {
        moverThread = std::this_thread::get_id();
        seenHead = head;
        release.Wait();
        return primary == 2 && secondary == 7 ? 0 : 7;
    });
    std::vector<std::tuple<int, int, int>> results;
    QObject::connect(&mover, &CApertureMover::Finished,
                     [&](int error, int p, int s) { results.emplace_back(error, p, s); });

    int head = 0;
    ASSERT_TRUE(mover.Start(&head, 2, 7));
    EXPECT_TRUE(mover.Busy());
    EXPECT_FALSE(mover.Start(&head, 0, 0));  // one move at a time
    release.Set();
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        QCoreApplication::processEvents();
        return !results.empty();
    }));
    EXPECT_EQ(results[0], std::make_tuple(0, 2, 7));
    EXPECT_NE(moverThread, std::this_thread::get_id());
    EXPECT_EQ(seenHead, &head);
    EXPECT_FALSE(mover.Busy());

    ASSERT_TRUE(mover.Start(nullptr, 1, 1));
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        QCoreApplication::processEvents();
        return results.size() == 2;
    }));
    EXPECT_EQ(std::get<0>(results[1]), 7);
}
