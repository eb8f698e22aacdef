// The main window's actions and their texts.
#include "FrameActions.h"

#include <QAction>
#include <QActionGroup>
#include <QIcon>
#include <QKeySequence>

#include "AppSettings.h"

QString RibbonToolTip(const QString& descriptionAndTitle) {
    const qsizetype split = descriptionAndTitle.lastIndexOf(QLatin1Char('\n'));
    const QString description = descriptionAndTitle.left(split < 0 ? 0 : split);
    const QString title = descriptionAndTitle.mid(split + 1);
    return QStringLiteral("<b>%1</b><br/>%2").arg(title.toHtmlEscaped(), description.toHtmlEscaped());
}

namespace {

QAction* NewAction(QObject* parent, const QString& text, const char* icon, const QString& tip) {
    auto* action = new QAction(text, parent);
    if (icon != nullptr) action->setIcon(QIcon(QStringLiteral(":/panel/icons/%1.png").arg(QLatin1String(icon))));
    if (!tip.isEmpty()) {
        action->setToolTip(RibbonToolTip(tip));
        // The description alone in the status bar while the pointer rests on it.
        action->setStatusTip(tip.left(tip.lastIndexOf(QLatin1Char('\n'))));
    }
    return action;
}

}  // namespace

FrameActions CreateFrameActions(QObject* parent) {
    FrameActions a{};
    a.setup = NewAction(parent, QStringLiteral("Setup"), "setup",
                        QStringLiteral("Show the application settings dialog box.\nApplication Settings"));
    a.connect = NewAction(parent, QStringLiteral("Connect"), "connect",
                          QStringLiteral("Connects to the Quorvex hardware.\nConnect"));
    a.disconnect = NewAction(parent, QStringLiteral("Disconnect"), "disconnect",
                             QStringLiteral("Disconnects from the Quorvex hardware.\nDisconnect"));
    a.rampUp = NewAction(parent, QStringLiteral("Ramp Up"), "rampup", QStringLiteral("Ramps up the lamp.\nLamp On"));
    a.rampDown =
        NewAction(parent, QStringLiteral("Ramp Down"), "rampdown", QStringLiteral("Ramps down the lamp.\nLamp Off"));
    a.upload = NewAction(parent, QStringLiteral("Upload"), "upload",
                         QStringLiteral("Upload calibration data from files to the Quorvex.\nUpload Calibration Data"));
    a.download = NewAction(parent, QStringLiteral("Download"), "download",
                           QStringLiteral("Download the calibration data from the Quorvex.\nDownload Calibration Data"));
    a.exportData = NewAction(parent, QStringLiteral("Export"), "export",
                             QStringLiteral("Export the Quorvex calibration data to a file.\nExport Calibration Data"));
    a.information = NewAction(parent, QStringLiteral("Information"), "information",
                              QStringLiteral("Shows advanced information about the Quorvex system.\nInformation"));
    a.help = NewAction(parent, QStringLiteral("Help"), "help",
                       QStringLiteral("Opens the help page of the Quorvex Control Panel.\nHelp"));
    a.help->setShortcut(QKeySequence(Qt::Key_F1));
    // Active wherever the focus is in the window, also with the ribbon's
    // button as the only widget showing the action.
    a.help->setShortcutContext(Qt::WindowShortcut);
    a.about = NewAction(parent, QStringLiteral("About"), "about",
                        QStringLiteral("Shows the program's version and copyright.\nAbout"));
    a.about->setMenuRole(QAction::AboutRole);
    a.exit = NewAction(parent, QStringLiteral("Exit"), nullptr, QStringLiteral("Quits the application.\nExit"));
    a.exit->setMenuRole(QAction::QuitRole);

    a.toggleErrorBar = NewAction(parent, QStringLiteral("Error Bar"), nullptr,
                                 QStringLiteral("Shows or hides the error bar.\nError Bar"));
    a.toggleErrorBar->setCheckable(true);
    a.openLogFile = NewAction(parent, QStringLiteral("Open Log File"), nullptr,
                              QStringLiteral("Opens the program's log file.\nOpen Log File"));

    a.looks = new QActionGroup(parent);
    a.looks->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    const struct {
        int id;
        const char* text;
    } looks[] = {{AppLookOffice2007Blue, "Office 2007 (Blue)"},
                 {AppLookOffice2007Black, "Office 2007 (Black)"},
                 {AppLookOffice2007Silver, "Office 2007 (Silver)"},
                 {AppLookOffice2007Aqua, "Office 2007 (Aqua)"},
                 {AppLookWindows7, "Windows 7"}};
    for (const auto& look : looks) {
        auto* action = new QAction(QString::fromLatin1(look.text), parent);
        action->setCheckable(true);
        action->setData(look.id);
        a.looks->addAction(action);
        a.lookActions.push_back(action);
    }
    return a;
}
