// The palettes and style sheets of the looks. The ribbon and message bar
// parts are found by the object names their widgets give themselves; the
// item headers and the view paint with LookColours, whose tones these
// palettes follow.
#include "AppLooks.h"

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QSettings>

#include "AppSettings.h"
#include "LookColours.h"

namespace applooks {

namespace {

const char kGroup[] = "Workspace";
const char kKey[] = "ApplicationLook";

struct Look {
    QColor window, windowText, button, buttonText, highlight, highlightText;
    // Style sheet colours: the tab row, the panel strip, the text on the
    // strip and on the tab row, and the status bar.
    QColor rowTop, rowBottom, stripTop, stripBottom, stripText, rowText, statusTop, statusBottom, outline;
};

QColor FromArgb(std::uint32_t argb) { return QColor::fromRgba(argb); }

Look LookFor(int look) {
    const QColor status = FromArgb(lookcolours::StatusPaneColour(look, 0.0, 0xFF000000u));
    const lookcolours::Gradient header = lookcolours::HeaderGradient(look);
    switch (look) {
    case AppLookOffice2007Blue:
        return {QColor(213, 228, 242), status,          QColor(221, 233, 245), status,
                QColor(51, 102, 187),  Qt::white,       FromArgb(header.top),  FromArgb(header.bottom),
                QColor(219, 232, 247), QColor(193, 216, 240), status,          status,
                QColor(202, 222, 247), QColor(163, 195, 234), QColor(141, 178, 227)};
    case AppLookOffice2007Black:
        // A dark frame around a light panel strip, as the view's dark
        // background asks for.
        return {QColor(83, 83, 83),    Qt::white,             QColor(105, 105, 105), Qt::white,
                QColor(255, 190, 90),  Qt::black,             QColor(46, 46, 46),    QColor(68, 68, 68),
                FromArgb(header.top),  FromArgb(header.bottom), QColor(50, 50, 50),  Qt::white,
                QColor(83, 83, 83),    QColor(47, 47, 47),    QColor(30, 30, 30)};
    case AppLookOffice2007Silver:
        return {QColor(221, 225, 230), status,                 QColor(232, 235, 239), status,
                QColor(98, 110, 128),  Qt::white,              FromArgb(header.top),  FromArgb(header.bottom),
                QColor(245, 246, 248), QColor(221, 225, 230),  QColor(76, 83, 92),    status,
                QColor(225, 228, 232), QColor(195, 200, 207),  QColor(165, 172, 181)};
    case AppLookOffice2007Aqua:
        return {QColor(196, 204, 221), status,                 QColor(208, 215, 230), status,
                QColor(0, 21, 110),    Qt::white,              QColor(215, 220, 232), FromArgb(header.bottom),
                QColor(225, 229, 238), FromArgb(header.bottom), status,               status,
                QColor(195, 202, 217), QColor(169, 179, 200),  QColor(139, 151, 178)};
    default:
        return {QColor(240, 244, 249), QColor(30, 57, 91),     QColor(245, 247, 250), QColor(30, 57, 91),
                QColor(51, 153, 255),  Qt::white,              FromArgb(header.top),  FromArgb(header.bottom),
                QColor(255, 255, 255), QColor(231, 238, 247),  QColor(60, 60, 60),    QColor(30, 57, 91),
                QColor(241, 245, 251), QColor(221, 230, 242),  QColor(182, 186, 191)};
    }
}

QPalette PaletteFor(const Look& look) {
    QPalette palette(look.button, look.window);
    palette.setColor(QPalette::WindowText, look.windowText);
    palette.setColor(QPalette::ButtonText, look.buttonText);
    // Edit fields and lists stay light with dark text in every look.
    palette.setColor(QPalette::Base, QColor(255, 255, 255));
    palette.setColor(QPalette::AlternateBase, QColor(245, 245, 245));
    palette.setColor(QPalette::Text, QColor(20, 20, 20));
    palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 240));
    palette.setColor(QPalette::ToolTipText, QColor(20, 20, 20));
    palette.setColor(QPalette::Highlight, look.highlight);
    palette.setColor(QPalette::HighlightedText, look.highlightText);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, look.windowText.lighter(160));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(140, 140, 140));
    return palette;
}

QString StyleSheetFor(const Look& look) {
    const auto c = [](const QColor& colour) { return colour.name(QColor::HexRgb); };
    const auto gradient = [&c](const QColor& top, const QColor& bottom) {
        return QStringLiteral("qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2)").arg(c(top), c(bottom));
    };
    QString sheet;
    sheet += QStringLiteral("QWidget#ribbonBar { background: %1; }\n").arg(gradient(look.rowTop, look.rowBottom));
    sheet += QStringLiteral(
                 "QTabBar#ribbonTabs::tab { background: transparent; color: %1; padding: 3px 14px;"
                 " border: 1px solid transparent; border-bottom: none;"
                 " border-top-left-radius: 3px; border-top-right-radius: 3px; }\n"
                 "QTabBar#ribbonTabs::tab:selected { background: %2; color: %3; border-color: %4; }\n"
                 "QTabBar#ribbonTabs::tab:hover:!selected { border-color: %4; }\n")
                 .arg(c(look.rowText), c(look.stripTop), c(look.stripText), c(look.outline));
    sheet += QStringLiteral("QToolButton#ribbonRightButton { color: %1; }\n").arg(c(look.rowText));
    sheet += QStringLiteral("QStackedWidget#ribbonPanelStrip { background: %1; border-top: 1px solid %2;"
                            " border-bottom: 1px solid %2; }\n")
                 .arg(gradient(look.stripTop, look.stripBottom), c(look.outline));
    sheet += QStringLiteral(
                 "QLabel#ribbonPanelCaption { color: %1; }\n"
                 "QToolButton#ribbonButton { color: %1; }\n"
                 "QToolButton#ribbonButton:disabled { color: #8c8c8c; }\n")
                 .arg(c(look.stripText));
    sheet += QStringLiteral("QStatusBar { background: %1; color: %2; border-top: 1px solid %3; }\n"
                            "QStatusBar::item { border: none; }\n")
                 .arg(gradient(look.statusTop, look.statusBottom), c(look.windowText), c(look.outline));
    // Message bars are yellow in every look: they have to stand out.
    sheet += QStringLiteral(
        "QWidget#messageBar { background: #fff29d; border-bottom: 1px solid #d8c25a; }\n"
        "QLabel#messageBarText, QToolButton#messageBarClose { color: #282828; }\n");
    sheet += QStringLiteral("QToolButton#ribbonApplicationButton::menu-indicator { image: none; }\n");
    return sheet;
}

}  // namespace

int NearestLook(int stored) {
    if (stored >= AppLookOffice2007Blue && stored <= AppLookWindows7) return stored;
    if (stored >= 205 && stored <= 207) return AppLookOffice2007Silver;
    if (stored >= 208 && stored <= 210) return AppLookOffice2007Blue;
    return AppLookWindows7;
}

void Apply(QApplication& app, int look) {
    const Look colours = LookFor(NearestLook(look));
    // Set every time: under a style sheet style() is the sheet's wrapper,
    // which does not tell which style it wraps.
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(PaletteFor(colours));
    app.setStyleSheet(StyleSheetFor(colours));
}

int LoadProfileLook() {
    QSettings settings;
    settings.beginGroup(QLatin1String(kGroup));
    bool ok = false;
    const int stored = settings.value(QLatin1String(kKey), int(AppLookWindows7)).toInt(&ok);
    return NearestLook(ok ? stored : int(AppLookWindows7));
}

void SaveProfileLook(int look) {
    QSettings settings;
    settings.beginGroup(QLatin1String(kGroup));
    settings.setValue(QLatin1String(kKey), look);
}

}  // namespace applooks
