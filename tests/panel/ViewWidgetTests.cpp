// The small view widgets and the dialog layout manager, on Qt's offscreen
// platform.
#include <memory>

#include <QApplication>
#include <QImage>
#include <QPointer>

#include <gtest/gtest.h>

#include "QtTestArgs.h"
#include "LogoDisplay.h"
#include "TestSupport.h"
#include "WavelengthDisplay.h"
#include "layout/DialogLayoutManager.h"

namespace {

using qttest::g_argc;
using qttest::g_argv;

// The other GUI tests create and destroy the program's own application, so
// each test here brings its own.
class ViewWidgetTest : public ::testing::Test {
protected:
    void SetUp() override { m_app = std::make_unique<QApplication>(g_argc, g_argv); }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

TEST_F(ViewWidgetTest, WavelengthDisplayShowsADashThenAPromptThenTheWavelength) {
    CWavelengthDisplay display;
    EXPECT_EQ(display.Text(), QString(QChar(0x2014)));
    display.SetWavelength(630.0);
    EXPECT_EQ(display.Text(), QString(QChar(0x2014)));
    display.SetTableEmpty(false);
    display.SetWavelength(-1.0);
    EXPECT_EQ(display.Text(), QStringLiteral("Select a Wavelength\n on the Plot"));
    display.SetWavelength(630.0);
    EXPECT_EQ(display.Text(), QStringLiteral("630.0 nm"));
    EXPECT_EQ(display.Wavelength(), 630.0);
}

TEST_F(ViewWidgetTest, FitPointSizeShrinksLongTextAndStopsAtOnePoint) {
    const QSize box(200, 50);
    EXPECT_EQ(CWavelengthDisplay::FitPointSize(QStringLiteral("1"), box), 24);
    const int prompt =
        CWavelengthDisplay::FitPointSize(QStringLiteral("Select a Wavelength\n on the Plot"), box);
    EXPECT_LT(prompt, 24);
    EXPECT_GT(prompt, 1);
    EXPECT_EQ(CWavelengthDisplay::FitPointSize(QString(500, QChar('W')), box), 1);
}

TEST_F(ViewWidgetTest, LogoDisplayPaintsTheLogoAtItsNominalSize) {
    CLogoDisplay logo;
    logo.resize(logo.sizeHint());
    const QImage image = logo.grab().toImage();
    ASSERT_EQ(image.size(), QSize(200, 100));
    // The bare panel is grey; only the logo brings in dark text and colour.
    int logoPixels = 0;
    for (int y = 1; y < 99; ++y)
        for (int x = 1; x < 199; ++x)
            if (qGray(image.pixel(x, y)) < 128) ++logoPixels;
    EXPECT_GT(logoPixels, 100);
}

TEST_F(ViewWidgetTest, LayoutManagerKeepsChildrenAnchoredThroughGrowAndShrink) {
    QWidget parent;
    parent.resize(400, 300);
    auto* column = new QWidget(&parent);
    column->setGeometry(10, 20, 100, 200);
    QPointer<QWidget> body = new QWidget(&parent);
    body->setGeometry(150, 30, 200, 240);
    auto* manager = new CDialogLayoutManager(&parent);
    manager->Add(column, layout::AnchorLeft | layout::AnchorTop | layout::AnchorBottom);
    manager->Add(body, 0xF);
    parent.show();

    const auto resizedTo = [&](int w, int h, QRect columnAt, QRect bodyAt) {
        parent.resize(w, h);
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return column->geometry() == columnAt && (!body || body->geometry() == bodyAt);
        });
    };
    EXPECT_TRUE(resizedTo(600, 500, {10, 20, 100, 400}, {150, 30, 400, 440}));
    EXPECT_TRUE(resizedTo(200, 150, {10, 20, 100, 50}, {150, 30, 0, 90}));
    delete body.data();
    EXPECT_TRUE(resizedTo(400, 300, {10, 20, 100, 200}, {}));
}

}  // namespace
