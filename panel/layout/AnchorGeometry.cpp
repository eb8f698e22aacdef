// The placement of an anchored child: each axis on its own, from the
// distances to the parent's edges recorded at registration.
#include "layout/AnchorGeometry.h"

#include <algorithm>

namespace layout {

namespace {

struct Span {
    int pos;
    int length;
};

// One axis. Distances are taken from the parent's sizes rather than from
// QRect::right()/bottom(), which are one short of the far edge.
Span PlaceAxis(int pos, int length, int oldParent, int newParent, bool nearEdge, bool farEdge,
               bool centre) {
    const int nearDistance = pos;
    const int farDistance = oldParent - (pos + length);
    if (nearEdge && farEdge)
        return {nearDistance, std::max(0, newParent - nearDistance - farDistance)};
    if (nearEdge) return {nearDistance, length};
    if (farEdge) return {newParent - farDistance - length, length};
    // Moving by half the parent's growth keeps the centre offset without
    // accumulating rounding from repeated halving of both sizes.
    if (centre) return {pos + (newParent - oldParent) / 2, length};
    return {pos, length};
}

}  // namespace

QRect Place(const AnchoredChild& child, QSize parent) {
    const unsigned a = child.anchors;
    const QRect& r = child.initial;
    const Span h = PlaceAxis(r.x(), r.width(), child.initialParent.width(), parent.width(),
                             (a & AnchorLeft) != 0, (a & AnchorRight) != 0,
                             (a & AnchorCentreH) != 0);
    const Span v = PlaceAxis(r.y(), r.height(), child.initialParent.height(), parent.height(),
                             (a & AnchorTop) != 0, (a & AnchorBottom) != 0,
                             (a & AnchorCentreV) != 0);
    return QRect(h.pos, v.pos, h.length, v.length);
}

}  // namespace layout
