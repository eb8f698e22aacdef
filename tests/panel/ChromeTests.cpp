// The main window's chrome on Qt's offscreen platform: the ribbon's key tips
// and buttons, the frame's actions, the message bar, the looks and the help
// page.
#include <memory>
#include <set>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "QtTestArgs.h"
#include "AppLooks.h"
#include "FrameActions.h"
#include "HelpViewer.h"
#include "MessageBar.h"
#include "PanelTestEnv.h"
#include "RibbonBar.h"

namespace {

using qttest::g_argc;
using qttest::g_argv;

class ChromeTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        m_app = std::make_unique<QApplication>(g_argc, g_argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Vandrel Scientific Ltd"));
        QCoreApplication::setApplicationName(QStringLiteral("Quorvex Control Panel"));
    }
    void TearDown() override {
        m_app.reset();
        PanelTest::TearDown();
    }
    QApplication& App() { return *m_app; }

private:
    std::unique_ptr<QApplication> m_app;
};

TEST_F(ChromeTest, KeyTipsSwitchTabsAndButtonsFollowTheirActions) {
    QWidget window;
    auto* ribbon = new CRibbonBar(&window);
    (new QVBoxLayout(&window))->addWidget(ribbon);
    const FrameActions actions = CreateFrameActions(&window);
    QMenu appMenu;
    appMenu.addAction(actions.exit);
    ribbon->SetApplicationMenu(&appMenu);
    const int home = ribbon->AddTab(QStringLiteral("Home"), QLatin1Char('H'));
    const int utilities = ribbon->AddTab(QStringLiteral("Utilities"), QLatin1Char('U'));
    const int help = ribbon->AddTab(QStringLiteral("Help"), QLatin1Char('Q'));
    ribbon->AddPanel(home, QStringLiteral("Hardware"), {actions.setup, actions.connect, actions.disconnect});
    ribbon->AddPanel(home, QStringLiteral("Lamp"), {actions.rampUp, actions.rampDown});
    ribbon->AddPanel(utilities, QStringLiteral("Calibration"), {actions.download, actions.upload});
    ribbon->AddRightAction(actions.help);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    QSignalSpy changed(ribbon, &CRibbonBar::CurrentTabChanged);
    for (auto [key, tab] : {std::pair{Qt::Key_U, utilities}, {Qt::Key_Q, help}, {Qt::Key_H, home}}) {
        QTest::keyClick(&window, key, Qt::AltModifier);
        EXPECT_EQ(ribbon->CurrentTab(), tab);
    }
    EXPECT_EQ(changed.count(), 3);

    QToolButton* setup = ribbon->ButtonFor(actions.setup);
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(setup->text(), QStringLiteral("Setup"));
    EXPECT_EQ(setup->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_TRUE(setup->toolTip().startsWith(QStringLiteral("<b>Application Settings</b>")));
    EXPECT_TRUE(setup->isEnabled());
    actions.setup->setEnabled(false);
    EXPECT_FALSE(setup->isEnabled());
    EXPECT_NE(ribbon->ButtonFor(actions.help), nullptr);
    EXPECT_EQ(ribbon->ButtonFor(actions.about), nullptr);
}

TEST_F(ChromeTest, FrameActionsCarryTheirTooltipsShortcutAndTheFiveLooks) {
    QObject owner;
    const FrameActions a = CreateFrameActions(&owner);
    EXPECT_EQ(a.rampUp->toolTip(), QStringLiteral("<b>Lamp On</b><br/>Ramps up the lamp."));
    EXPECT_EQ(a.information->toolTip(),
              QStringLiteral("<b>Information</b><br/>Shows advanced information about the Quorvex system."));
    EXPECT_EQ(a.exportData->text(), QStringLiteral("Export"));
    EXPECT_EQ(a.help->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_TRUE(a.toggleErrorBar->isCheckable());
    ASSERT_EQ(a.lookActions.size(), 5u);
    EXPECT_EQ(a.looks->exclusionPolicy(), QActionGroup::ExclusionPolicy::Exclusive);
    EXPECT_EQ(a.lookActions[1]->text(), QStringLiteral("Office 2007 (Black)"));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(a.lookActions[i]->data().toInt(), 215 + i);
    EXPECT_EQ(RibbonToolTip(QStringLiteral("a < b\nT & U")), QStringLiteral("<b>T &amp; U</b><br/>a &lt; b"));
}

TEST_F(ChromeTest, MessageBarShowsOnlyTheButtonsItWasGiven) {
    QWidget window;
    auto* notice = new CMessageBar(&window);
    auto* error = new CMessageBar(&window);
    (new QVBoxLayout(&window))->addWidget(notice);
    window.layout()->addWidget(error);
    notice->SetText(QStringLiteral("No calibration data."));
    error->SetText(QStringLiteral("Errors encountered! See log file for details."));
    error->SetButton(QStringLiteral("Open Log File"), QStringLiteral("Click here to open the log file"));
    error->SetCloseBox(true);
    window.show();

    const auto visibleButtons = [](CMessageBar* bar) {
        int count = 0;
        for (auto* button : bar->findChildren<QAbstractButton*>()) count += button->isVisible() ? 1 : 0;
        return count;
    };
    EXPECT_EQ(notice->Text(), QStringLiteral("No calibration data."));
    EXPECT_EQ(visibleButtons(notice), 0);
    EXPECT_EQ(visibleButtons(error), 2);

    QSignalSpy clicked(error, &CMessageBar::ButtonClicked);
    QSignalSpy closed(error, &CMessageBar::CloseClicked);
    QTest::mouseClick(error->findChild<QAbstractButton*>(QStringLiteral("messageBarButton")), Qt::LeftButton);
    QTest::mouseClick(error->findChild<QAbstractButton*>(QStringLiteral("messageBarClose")), Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(ChromeTest, LooksDifferAndTheStoredLookMapsToTheNearestOne) {
    std::set<QRgb> windows;
    for (int look = 215; look <= 219; ++look) {
        applooks::Apply(App(), look);
        windows.insert(App().palette().color(QPalette::Window).rgb());
        EXPECT_FALSE(App().styleSheet().isEmpty());
    }
    EXPECT_EQ(windows.size(), 5u);
    App().setStyleSheet(QString());
    EXPECT_EQ(App().style()->name(), QStringLiteral("fusion"));

    const std::pair<int, int> nearest[] = {{215, 215}, {216, 216}, {217, 217}, {218, 218}, {219, 219},
                                           {205, 217}, {207, 217}, {208, 215}, {210, 215}, {211, 219},
                                           {214, 219}, {220, 219}, {0, 219},   {-1, 219}};
    for (auto [stored, look] : nearest) EXPECT_EQ(applooks::NearestLook(stored), look) << stored;

    EXPECT_EQ(applooks::LoadProfileLook(), 219);
    applooks::SaveProfileLook(216);
    EXPECT_EQ(Registry()->value(QStringLiteral("Workspace/ApplicationLook")).toInt(), 216);
    EXPECT_EQ(applooks::LoadProfileLook(), 216);
    Registry()->setValue(QStringLiteral("Workspace/ApplicationLook"), 209);
    EXPECT_EQ(applooks::LoadProfileLook(), 215);
}

TEST_F(ChromeTest, HelpPageIsBesideTheProgramAndShownInOwnWindowWithoutADesktop) {
    const QString page = helpviewer::PagePath();
    ASSERT_FALSE(page.isEmpty());
    EXPECT_TRUE(page.endsWith(QStringLiteral("/help/index.html")));

    // No desktop session: the page must not go to a browser.
    const QByteArray display = qgetenv("DISPLAY"), wayland = qgetenv("WAYLAND_DISPLAY");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    QWidget parent;
    helpviewer::Open(&parent);
    helpviewer::Open(&parent);
    if (!display.isNull()) qputenv("DISPLAY", display);
    if (!wayland.isNull()) qputenv("WAYLAND_DISPLAY", wayland);

    const auto viewers = parent.findChildren<QTextBrowser*>();
    ASSERT_EQ(viewers.size(), 1);
    EXPECT_TRUE(viewers[0]->isVisible());
    EXPECT_TRUE(viewers[0]->isWindow());
    EXPECT_EQ(viewers[0]->source(), QUrl::fromLocalFile(page));
    EXPECT_TRUE(viewers[0]->toPlainText().contains(QStringLiteral("dialout")));
}

}  // namespace
