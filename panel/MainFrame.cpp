// The top-level window: title, the main view and the About command.
#include "MainFrame.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "QuorvexControlPanelView.h"

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    // The title is the program's name alone, never a document name.
    setWindowTitle(QStringLiteral("Quorvex Control Panel"));

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("&About"));
    connect(about, &QAction::triggered, this, &CMainFrame::AboutRequested);

    m_pView = new CQuorvexControlPanelView(CQuorvexControlPanelView::ApplicationServices(), this);
    setCentralWidget(m_pView);
    // The frame fits the view's size.
    resize(CQuorvexControlPanelView::kWidth,
           CQuorvexControlPanelView::kHeight + menuBar()->sizeHint().height());
}
