// The top-level window: title and the About command.
#include "MainFrame.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    // The title is the program's name alone, never a document name.
    setWindowTitle(QStringLiteral("Quorvex Control Panel"));
    resize(1024, 720);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("&About"));
    connect(about, &QAction::triggered, this, &CMainFrame::AboutRequested);
}
