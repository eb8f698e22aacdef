// The main view and its plot on Qt's offscreen platform: picking by mouse
// and keys, the arrows in the aperture list, the layout on resize, the move
// on a worker, and a few pixels the drawing rules fix.
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "QtTestArgs.h"
#include "ApertureListBox.h"
#include "DisplayUnits.h"
#include "HeadSimulator.h"
#include "QuorvexControlPanelView.h"
#include "SpectralPlot.h"
#include "TestEvent.h"
#include "TestSupport.h"
#include "WavelengthDisplay.h"

namespace {

using qttest::g_argc;
using qttest::g_argv;

struct Move {
    void* head;
    int primary, secondary;
    std::thread::id thread;
};

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_app = std::make_unique<QApplication>(g_argc, g_argv);
        m_calibration.FillFromHead(sim::CHeadSimulator::FactoryApertureRows(), sim::CHeadSimulator::FactorySpectrum());
    }
    void TearDown() override {
        m_release.Set();
        m_view.reset();
        m_app.reset();
    }

    CQuorvexControlPanelView& View() {
        if (!m_view) {
            CQuorvexControlPanelView::Services services;
            services.calibration = &m_calibration;
            services.settings = &m_settings;
            services.head = [this] { return m_head; };
            services.move = [this](void* head, int primary, int secondary) {
                {
                    std::lock_guard lock(m_mutex);
                    m_moves.push_back({head, primary, secondary, std::this_thread::get_id()});
                }
                m_release.Wait();
                return m_moveResult.load();
            };
            services.log = [this](int severity, const std::wstring& message) {
                m_log.emplace_back(severity, message);
            };
            m_view = std::make_unique<CQuorvexControlPanelView>(std::move(services));
            m_view->show();
        }
        return *m_view;
    }
    CSpectralPlot& Plot() { return *View().Plot(); }
    CApertureListBox& List() { return *View().ApertureList(); }

    int IndexOf(double nm) const {
        for (std::size_t i = 0; i < m_calibration.m_spectralData.size(); ++i)
            if (m_calibration.m_spectralData[i].m_dWavelength == nm) return static_cast<int>(i);
        return -1;
    }
    void ClickPoint(int index) {
        QTest::mouseClick(&Plot(), Qt::LeftButton, {}, Plot().Geometry().screen[index].toPoint());
    }
    std::vector<Move> Moves() {
        std::lock_guard lock(m_mutex);
        return m_moves;
    }
    bool WaitForMoveEnd() {
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return !View().MoveInProgress();
        });
    }

    CCalibrationData m_calibration;
    CAppSettings m_settings;
    int m_headObject = 0;
    void* m_head = &m_headObject;
    std::atomic<int> m_moveResult{0};
    testsupport::CTestEvent m_release{true};
    std::vector<std::pair<int, std::wstring>> m_log;

private:
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<CQuorvexControlPanelView> m_view;
    std::mutex m_mutex;
    std::vector<Move> m_moves;
};

TEST_F(ViewTest, ClicksAndArrowKeysPickPointsAndAnnounceTheirIndex) {
    QSignalSpy picks(&Plot(), &CSpectralPlot::SelectionChanged);
    const int at630 = IndexOf(630.0);
    ClickPoint(at630);
    ASSERT_EQ(picks.count(), 1);
    EXPECT_EQ(picks.takeFirst().at(0).toInt(), at630);
    EXPECT_EQ(View().WavelengthDisplay()->Text(), QStringLiteral("630.0 nm"));

    // Right on the last point keeps it and still announces it.
    const int last = static_cast<int>(m_calibration.m_spectralData.size()) - 1;
    ClickPoint(last);
    QTest::keyClick(&Plot(), Qt::Key_Right);
    ASSERT_EQ(picks.count(), 2);
    EXPECT_EQ(picks.at(1).at(0).toInt(), last);
    QTest::keyClick(&Plot(), Qt::Key_Left);
    EXPECT_EQ(picks.last().at(0).toInt(), last - 1);

    // Outside the plot area the pick is cleared.
    QTest::mouseClick(&Plot(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(picks.last().at(0).toInt(), -1);
    EXPECT_EQ(View().WavelengthDisplay()->Text(), QStringLiteral("Select a Wavelength\n on the Plot"));
}

TEST_F(ViewTest, ArrowsInTheApertureListStepTheWavelengthNotTheList) {
    View().SetConnected(true);
    View().OnHeadPosition(1, 4);
    const int row = List().currentRow();
    ASSERT_GE(row, 0);
    ClickPoint(IndexOf(630.0));
    List().setFocus();
    QTest::keyClick(&List(), Qt::Key_Right);
    QTest::keyClick(&List(), Qt::Key_Right);
    EXPECT_EQ(View().PickedIndex(), IndexOf(650.0));
    QTest::keyClick(&List(), Qt::Key_Left);
    EXPECT_EQ(View().PickedIndex(), IndexOf(640.0));
    EXPECT_EQ(List().currentRow(), row);
    EXPECT_TRUE(Moves().empty());
}

TEST_F(ViewTest, ArrowsStepTheWavelengthAfterAnItemWasChosenWithTheMouse) {
    // In a window with something else to take the focus, as the ribbon is
    // beside the view in the program.
    QWidget window;
    View().setParent(&window);
    // The fixture owns the view: it leaves the window before the window goes.
    const std::unique_ptr<QWidget, void (*)(QWidget*)> giveBack(&View(), [](QWidget* view) { view->setParent(nullptr); });
    auto* elsewhere = new QPushButton(QStringLiteral("Elsewhere"), &window);
    elsewhere->move(0, View().height());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    View().SetConnected(true);
    ClickPoint(IndexOf(630.0));
    m_release.Set();  // the move ends at once
    const QRect item = List().visualItemRect(List().item(List().RowOf(0, 3)));
    QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, item.center());
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Moves().size() == 1; }));
    ASSERT_TRUE(WaitForMoveEnd());

    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, Qt::Key_Right);
    EXPECT_EQ(View().PickedIndex(), IndexOf(640.0)) << focus->metaObject()->className();
    EXPECT_EQ(QApplication::focusWidget(), &List());
    EXPECT_EQ(Moves().size(), 1u);
}

TEST_F(ViewTest, OnResizeTheListKeepsThreeDistancesAndThePlotFour) {
    const auto distances = [&](QWidget* child) {
        const QRect r = child->geometry();
        const QSize parent = View().size();
        return std::array<int, 4>{r.left(), r.top(), parent.width() - r.right(), parent.height() - r.bottom()};
    };
    const auto list = distances(&List());
    const auto plot = distances(&Plot());
    const int listWidth = List().width();
    for (QSize size : {QSize(1200, 800), QSize(700, 450)}) {
        View().resize(size);
        QCoreApplication::processEvents();
        const auto nowList = distances(&List());
        EXPECT_EQ(nowList[0], list[0]);
        EXPECT_EQ(nowList[1], list[1]);
        EXPECT_EQ(nowList[3], list[3]);
        EXPECT_EQ(List().width(), listWidth);
        EXPECT_EQ(distances(&Plot()), plot);
    }
}

TEST_F(ViewTest, ChoosingAnItemMovesOnAWorkerAndAFailedMoveReturnsToTheHeadsPosition) {
    EXPECT_FALSE(List().isEnabled());  // not connected
    View().SetConnected(true);
    ASSERT_TRUE(List().isEnabled());
    // The head's own report selects its item and sends nothing.
    View().OnHeadPosition(2, 11);
    const int headRow = List().RowOf(2, 11);
    EXPECT_EQ(List().currentRow(), headRow);
    EXPECT_TRUE(Moves().empty());

    const int chosen = List().RowOf(0, 3);
    List().setCurrentRow(chosen);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Moves().size() == 1; }));
    EXPECT_FALSE(List().isEnabled());  // while the wheels move
    EXPECT_TRUE(View().MoveInProgress());
    m_release.Set();
    ASSERT_TRUE(WaitForMoveEnd());
    const Move move = Moves()[0];
    EXPECT_EQ(move.head, m_head);
    EXPECT_EQ(move.primary, 0);
    EXPECT_EQ(move.secondary, 3);
    EXPECT_NE(move.thread, std::this_thread::get_id());
    EXPECT_TRUE(List().isEnabled());
    EXPECT_EQ(List().currentRow(), chosen);

    // A failure is logged and the list returns to where the wheels are.
    m_moveResult = 7;
    List().setCurrentRow(List().RowOf(1, 1));
    ASSERT_TRUE(WaitForMoveEnd());
    EXPECT_EQ(Moves().size(), 2u);
    EXPECT_EQ(List().currentRow(), chosen);
    ASSERT_EQ(m_log.size(), 1u);
    EXPECT_EQ(m_log[0].first, 3);
    EXPECT_EQ(m_log[0].second, L"Moving the apertures to position (2,2) failed with error 7 (the head unit did not answer)");
    EXPECT_EQ(Moves().size(), 2u);  // going back sent nothing
}

TEST_F(ViewTest, ListOrderAndDefaultsFollowTheCalibration) {
    ASSERT_EQ(List().count(), 36);
    double previous = -1.0;
    for (int row = 0; row < List().count(); ++row) {
        const QPoint p = CApertureListBox::Positions(List().item(row));
        const double factor = View().Entries()[row].m_dAttenuationFactor;
        EXPECT_GE(factor, previous);
        previous = factor;
        EXPECT_EQ(List().item(row)->text(), QStringLiteral("Position (%1,%2)").arg(p.x()).arg(p.y()));
    }
    m_calibration.m_apertureData.clear();
    View().OnCalibrationReplaced();
    ASSERT_EQ(List().count(), 36);
    EXPECT_EQ(CApertureListBox::Positions(List().item(0)), QPoint(0, 0));
    EXPECT_EQ(CApertureListBox::Positions(List().item(35)), QPoint(2, 11));
}

TEST_F(ViewTest, AShorterTableKeepsThePickWithinIt) {
    ClickPoint(IndexOf(1100.0));
    m_calibration.m_spectralData.resize(10);
    View().OnCalibrationReplaced();
    EXPECT_EQ(Plot().SelectedIndex(), 9);
    EXPECT_EQ(View().PickedIndex(), 9);
    EXPECT_EQ(Plot().HoverIndex(), -1);
    m_calibration.m_spectralData.clear();
    View().OnCalibrationReplaced();
    EXPECT_EQ(View().PickedIndex(), -1);
    EXPECT_EQ(View().WavelengthDisplay()->Text(), QString(QChar(0x2014)));
    Plot().grab();  // paints without a point to stand on
}

TEST_F(ViewTest, APointAtANegativeWavelengthIsLeftOutEverywhere) {
    m_calibration.m_spectralData.insert(m_calibration.m_spectralData.begin(), CSpectralData(-500.0, 1e-6));
    View().SetConnected(true);
    EXPECT_FALSE(Plot().Geometry().plotted[0]);
    // A click at the plot's left edge picks the shortest real wavelength.
    const QRectF area = Plot().Geometry().area;
    QTest::mouseClick(&Plot(), Qt::LeftButton, {}, QPoint(int(area.left()) + 1, int(area.center().y())));
    const int picked = View().PickedIndex();
    ASSERT_GT(picked, 0);
    const double nm = m_calibration.m_spectralData[static_cast<std::size_t>(picked)].m_dWavelength;
    EXPECT_GT(nm, 0.0);
    EXPECT_EQ(View().WavelengthDisplay()->Text(), QString::fromStdString(displayunits::WavelengthText(nm, 0)));
    // Nothing to step onto on its left.
    QTest::keyClick(&Plot(), Qt::Key_Left);
    EXPECT_EQ(View().PickedIndex(), picked);
}

TEST_F(ViewTest, TickLabelsOfAnAbsurdSpanNeverTouch) {
    // The simulated head's table: a label on every tick.
    EXPECT_EQ(Plot().TickLabels().size(), Plot().Geometry().ticks.size());
    CSpectralPlot plot;
    plot.resize(700, 540);
    plot.LoadPoints({{1.0f, 1e-7f}, {3e38f, 1e-7f}});
    const auto labels = plot.TickLabels();
    ASSERT_FALSE(labels.empty());
    EXPECT_LT(labels.size(), plot.Geometry().ticks.size());
    for (std::size_t i = 1; i < labels.size(); ++i)
        EXPECT_LT(labels[i - 1].box.right(), labels[i].box.left()) << i;
    plot.grab();  // and paints without a hang
}

TEST_F(ViewTest, PixelsTheDrawingRulesFix) {
    const int at630 = IndexOf(630.0);
    ClickPoint(at630);
    const QImage image = Plot().grab().toImage();
    const QPointF point = Plot().Geometry().screen[at630];
    // The marker's green ring around a white centre.
    EXPECT_EQ(image.pixel(point.toPoint() + QPoint(-5, 0)), 0xFF4E9E19u);
    EXPECT_EQ(image.pixel(point.toPoint()), 0xFFFFFFFFu);
    // The plot area is white between grid lines, the outlines frame-coloured.
    const QRectF area = Plot().Geometry().area;
    EXPECT_EQ(image.pixel(int(area.left()) + 2, int(area.top()) + 2), 0xFFFFFFFFu);
    EXPECT_EQ(image.pixel(0, image.height() / 2), 0xFF828790u);
    EXPECT_EQ(image.pixel(int(area.left()), int(area.center().y())), 0xFF828790u);
}

}  // namespace
