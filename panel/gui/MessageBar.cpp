// The message bar's widgets. Its colours come from the application's style
// sheet (AppLooks.cpp); the palette set here is what it looks like without
// one.
#include "MessageBar.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QToolButton>

CMessageBar::CMessageBar(QWidget* parent)
    : QWidget(parent), m_text(new QLabel(this)), m_button(new QPushButton(this)), m_close(new QToolButton(this)) {
    setObjectName(QStringLiteral("messageBar"));
    setAttribute(Qt::WA_StyledBackground);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(255, 242, 157));
    colours.setColor(QPalette::WindowText, QColor(40, 40, 40));
    setPalette(colours);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("messageBarIcon"));
    icon->setPixmap(QIcon(QStringLiteral(":/panel/icons/warning.png")).pixmap(16, 16));

    m_text->setObjectName(QStringLiteral("messageBarText"));
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_text->setTextFormat(Qt::PlainText);

    m_button->setObjectName(QStringLiteral("messageBarButton"));
    m_button->hide();
    connect(m_button, &QPushButton::clicked, this, &CMessageBar::ButtonClicked);

    m_close->setObjectName(QStringLiteral("messageBarClose"));
    m_close->setText(QString(QChar(0x2715)));
    m_close->setToolTip(tr("Close"));
    m_close->setAutoRaise(true);
    m_close->hide();
    connect(m_close, &QToolButton::clicked, this, &CMessageBar::CloseClicked);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 3, 3, 3);
    row->setSpacing(6);
    row->addWidget(icon);
    row->addWidget(m_text, 1);
    row->addWidget(m_button);
    row->addWidget(m_close);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CMessageBar::SetText(const QString& text) { m_text->setText(text); }

QString CMessageBar::Text() const { return m_text->text(); }

void CMessageBar::SetButton(const QString& text, const QString& tooltip) {
    m_button->setText(text);
    m_button->setToolTip(tooltip);
    m_button->setVisible(!text.isEmpty());
}

void CMessageBar::SetCloseBox(bool show) { m_close->setVisible(show); }
