// The program's top-level window. For now a titled frame whose Help menu
// opens the About box; the ribbon, status bar and main view come later.
#pragma once

#include <QMainWindow>

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);

signals:
    void AboutRequested();
};
