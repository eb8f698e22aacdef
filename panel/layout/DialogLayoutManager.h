// Keeps a dialog's child controls anchored to its edges when it is resized:
// each registered child is placed again from the geometry and edge
// distances it had when it was registered.
//
// Ownership: the manager is a QObject child of the parent widget, so it goes
// with it; it does not own the controls it places, and forgets any that are
// destroyed before the parent. GUI thread only: construction, Add() and the
// placing on resize all run there.
#pragma once

#include <vector>

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "layout/AnchorGeometry.h"

class CDialogLayoutManager : public QObject {
    Q_OBJECT
public:
    explicit CDialogLayoutManager(QWidget* parent);

    // Registers `child` with a combination of layout::Anchor flags. The
    // child must already have its geometry and the parent its size: both are
    // recorded now and every later placement is relative to them.
    void Add(QWidget* child, unsigned anchors);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        QPointer<QWidget> widget;
        layout::AnchoredChild geometry;
    };

    void PlaceAll(QSize parentSize);

    QWidget* m_pParent;
    std::vector<Entry> m_children;
};
