// The program's top-level window. For now a titled frame around the main
// view, whose Help menu opens the About box; the ribbon, status bar and the
// connection come later.
//
// Ownership and threads: owned by the application object, GUI thread only;
// it owns the view.
#pragma once

#include <QMainWindow>

class CQuorvexControlPanelView;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);

    CQuorvexControlPanelView* View() const { return m_pView; }

signals:
    void AboutRequested();

private:
    CQuorvexControlPanelView* m_pView;
};
