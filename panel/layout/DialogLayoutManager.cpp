// The layout manager's resize hook: the parent's resize events are watched
// through an event filter, so dialogs need no resizeEvent override of their
// own to keep their controls in place.
#include "layout/DialogLayoutManager.h"

#include <algorithm>

#include <QEvent>
#include <QResizeEvent>

CDialogLayoutManager::CDialogLayoutManager(QWidget* parent) : QObject(parent), m_pParent(parent) {
    parent->installEventFilter(this);
}

void CDialogLayoutManager::Add(QWidget* child, unsigned anchors) {
    m_children.push_back({child, {anchors, child->geometry(), m_pParent->size()}});
}

bool CDialogLayoutManager::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pParent && event->type() == QEvent::Resize)
        PlaceAll(static_cast<QResizeEvent*>(event)->size());
    return QObject::eventFilter(watched, event);
}

void CDialogLayoutManager::PlaceAll(QSize parentSize) {
    std::erase_if(m_children, [](const Entry& e) { return e.widget.isNull(); });
    for (const Entry& e : m_children) e.widget->setGeometry(layout::Place(e.geometry, parentSize));
}
