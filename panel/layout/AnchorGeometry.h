// Where an anchored child control goes when its parent changes size: the
// arithmetic of the dialog layout manager, kept free of widgets so it can be
// tested without a GUI. Pure functions of their arguments; callable from any
// thread, though the layout manager only calls them on the GUI thread.
#pragma once

#include <QRect>
#include <QSize>

namespace layout {

// Which parent edges a child follows. A child anchored to both opposite
// edges stretches; to one, it moves with that edge; to neither but centred,
// it keeps its offset from the parent's centre; to nothing, it stays put.
enum Anchor : unsigned {
    AnchorLeft = 1,
    AnchorTop = 2,
    AnchorRight = 4,
    AnchorBottom = 8,
    AnchorCentreH = 0x10,
    AnchorCentreV = 0x20,
};

// A child as it was when it was registered: its anchors, its geometry and
// the size of its parent at that time.
struct AnchoredChild {
    unsigned anchors;
    QRect initial;
    QSize initialParent;
};

// The child's geometry in a parent of size `parent`. Width and height never
// go below 0, however small the parent gets.
QRect Place(const AnchoredChild& child, QSize parent);

}  // namespace layout
