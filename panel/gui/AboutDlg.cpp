// The About box: an icon, the name and version line and OK.
#include "AboutDlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "Version.h"
#include "platform/text.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_pVersionLabel(new QLabel(this)) {
    setWindowTitle(QStringLiteral("About Quorvex Control Panel"));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));

    m_pVersionLabel->setObjectName(QStringLiteral("versionLabel"));
    m_pVersionLabel->setText(QString::fromStdWString(
        platform::FormatW(L"Quorvex Control Panel, Version %ls", GetVersionString().c_str())));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(m_pVersionLabel, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString CAboutDlg::VersionText() const { return m_pVersionLabel->text(); }
