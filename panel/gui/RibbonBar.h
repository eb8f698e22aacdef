// The ribbon over the main window: an application button with its menu, a
// row of tabs with key tips (Alt+letter), menus and actions at the right end
// of that row, and under it the current tab's panels of large buttons.
// Every button is bound to a QAction, so enabling, checking and tooltips
// follow the actions the window already has.
//
// Ownership and threads: an ordinary child widget owned by its Qt parent; it
// owns its buttons, panels and key-tip shortcuts. The actions and menus it is
// given stay owned by the caller and must outlive the ribbon (the buttons
// drop an action that is destroyed first). GUI thread only.
#pragma once

#include <QChar>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class QAction;
class QHBoxLayout;
class QMenu;
class QStackedWidget;
class QTabBar;
class QToolButton;

class CRibbonBar : public QWidget {
    Q_OBJECT
public:
    explicit CRibbonBar(QWidget* parent = nullptr);

    // The menu of the application button at the left of the tab row.
    void SetApplicationMenu(QMenu* menu);

    // Adds a tab and returns its index; Alt+`keyTip` selects it from anywhere
    // in the ribbon's window.
    int AddTab(const QString& title, QChar keyTip);

    // Appends a panel of large buttons, one per action, to tab `tab`.
    void AddPanel(int tab, const QString& caption, const QList<QAction*>& actions);

    // A text button at the right end of the tab row that pops up `menu`.
    void AddRightMenu(const QString& text, QMenu* menu);
    // A small icon button at the right end of the tab row.
    void AddRightAction(QAction* action);

    void SetCurrentTab(int tab);
    int CurrentTab() const;

    // The button showing `action` (the first one if it is in several
    // panels), or nullptr.
    QToolButton* ButtonFor(QAction* action) const;

signals:
    void CurrentTabChanged(int tab);

private:
    QToolButton* m_appButton;
    QTabBar* m_tabs;
    QHBoxLayout* m_rightArea;
    QStackedWidget* m_pages;
    QHash<QAction*, QPointer<QToolButton>> m_buttons;
};
