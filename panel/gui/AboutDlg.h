// The About box: program name and version.
#pragma once

#include <QDialog>

class QLabel;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // "Quorvex Control Panel, Version 1.0.0"
    QString VersionText() const;

private:
    QLabel* m_pVersionLabel;
};
