// The ribbon's widgets. The look of its parts comes from the application's
// style sheet (AppLooks.cpp), which finds them by their object names.
#include "RibbonBar.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kLargeIcon = 32;
constexpr int kSmallIcon = 16;

QWidget* NewPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("ribbonPage"));
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(4);
    row->addStretch(1);
    return page;
}

}  // namespace

CRibbonBar::CRibbonBar(QWidget* parent)
    : QWidget(parent),
      m_appButton(new QToolButton(this)),
      m_tabs(new QTabBar(this)),
      m_rightArea(new QHBoxLayout),
      m_pages(new QStackedWidget(this)) {
    setObjectName(QStringLiteral("ribbonBar"));
    // Style sheet backgrounds are only painted on plain QWidgets with this.
    setAttribute(Qt::WA_StyledBackground);

    m_appButton->setObjectName(QStringLiteral("ribbonApplicationButton"));
    m_appButton->setIcon(QIcon(QStringLiteral(":/panel/icons/app.png")));
    m_appButton->setIconSize(QSize(kSmallIcon, kSmallIcon));
    m_appButton->setPopupMode(QToolButton::InstantPopup);
    m_appButton->setAutoRaise(true);
    m_appButton->setToolTip(tr("Application menu"));
    m_appButton->setEnabled(false);

    m_tabs->setObjectName(QStringLiteral("ribbonTabs"));
    m_tabs->setDrawBase(false);
    m_tabs->setExpanding(false);
    // Three short tabs always fit; scroll arrows would only clip them when
    // the style sheet widens the tabs after the first layout.
    m_tabs->setUsesScrollButtons(false);
    m_tabs->setElideMode(Qt::ElideNone);
    m_tabs->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_tabs->setFocusPolicy(Qt::NoFocus);
    connect(m_tabs, &QTabBar::currentChanged, this, [this](int tab) {
        m_pages->setCurrentIndex(tab);
        emit CurrentTabChanged(tab);
    });

    m_pages->setObjectName(QStringLiteral("ribbonPanelStrip"));

    auto* tabRow = new QHBoxLayout;
    tabRow->setContentsMargins(2, 2, 2, 0);
    tabRow->setSpacing(4);
    tabRow->addWidget(m_appButton);
    tabRow->addWidget(m_tabs, 0, Qt::AlignBottom);
    tabRow->addStretch(1);
    m_rightArea->setSpacing(2);
    tabRow->addLayout(m_rightArea);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addLayout(tabRow);
    column->addWidget(m_pages);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CRibbonBar::SetApplicationMenu(QMenu* menu) {
    m_appButton->setMenu(menu);
    m_appButton->setEnabled(menu != nullptr);
}

int CRibbonBar::AddTab(const QString& title, QChar keyTip) {
    // The tab sizes come from the style sheet, which only applies once the
    // bar is polished; unpolished sizes would clip the last tab.
    m_tabs->ensurePolished();
    const int tab = m_tabs->addTab(title);
    m_pages->addWidget(NewPage());
    if (!keyTip.isNull()) {
        const QKeySequence keys(QKeyCombination(Qt::AltModifier, Qt::Key(keyTip.toUpper().unicode())));
        m_tabs->setTabToolTip(tab, keys.toString(QKeySequence::NativeText));
        // Owned by the ribbon but active in its whole window, so the key tip
        // works wherever the focus is.
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, tab] { SetCurrentTab(tab); });
    }
    return tab;
}

void CRibbonBar::AddPanel(int tab, const QString& caption, const QList<QAction*>& actions) {
    auto* page = m_pages->widget(tab);
    if (page == nullptr) return;
    auto* row = static_cast<QHBoxLayout*>(page->layout());
    // The trailing stretch stays last; a separator goes between panels.
    int at = row->count() - 1;
    if (at > 0) {
        auto* separator = new QFrame(page);
        separator->setObjectName(QStringLiteral("ribbonSeparator"));
        separator->setFrameShape(QFrame::VLine);
        separator->setFrameShadow(QFrame::Sunken);
        row->insertWidget(at++, separator);
    }

    auto* panel = new QWidget(page);
    panel->setObjectName(QStringLiteral("ribbonPanel"));
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(2, 0, 2, 0);
    column->setSpacing(0);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    for (QAction* action : actions) {
        auto* button = new QToolButton(panel);
        button->setObjectName(QStringLiteral("ribbonButton"));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(kLargeIcon, kLargeIcon));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setDefaultAction(action);
        buttons->addWidget(button);
        if (!m_buttons.value(action)) m_buttons.insert(action, button);
    }
    column->addLayout(buttons);
    auto* label = new QLabel(caption, panel);
    label->setObjectName(QStringLiteral("ribbonPanelCaption"));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    column->addWidget(label);
    row->insertWidget(at, panel);
}

void CRibbonBar::AddRightMenu(const QString& text, QMenu* menu) {
    auto* button = new QToolButton(this);
    button->setObjectName(QStringLiteral("ribbonRightButton"));
    button->setText(text);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    m_rightArea->addWidget(button);
}

void CRibbonBar::AddRightAction(QAction* action) {
    auto* button = new QToolButton(this);
    button->setObjectName(QStringLiteral("ribbonRightButton"));
    button->setIconSize(QSize(kSmallIcon, kSmallIcon));
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setDefaultAction(action);
    m_rightArea->addWidget(button);
    if (!m_buttons.value(action)) m_buttons.insert(action, button);
}

void CRibbonBar::SetCurrentTab(int tab) {
    if (tab >= 0 && tab < m_tabs->count()) m_tabs->setCurrentIndex(tab);
}

int CRibbonBar::CurrentTab() const { return m_tabs->currentIndex(); }

QToolButton* CRibbonBar::ButtonFor(QAction* action) const {
    QToolButton* button = m_buttons.value(action);
    // A destroyed action's address may be reused by a new one.
    return button != nullptr && button->defaultAction() == action ? button : nullptr;
}
