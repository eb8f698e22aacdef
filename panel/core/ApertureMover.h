// Moves the aperture wheels off the GUI thread. A move waits until the head
// reports it complete or failed, which can take seconds, so it runs on the
// mover's worker and its result comes back to the owner's thread by a
// queued signal.
//
// Ownership and threads: created, started and destroyed on the GUI thread.
// One move runs at a time; the destructor waits for a running move to
// return, so the move function never outlives the mover.
#pragma once

#include <functional>

#include <QObject>

#include "Worker.h"

class CApertureMover : public QObject {
    Q_OBJECT
public:
    // Called on the mover's thread with the head's handle as it was when
    // the move started and 0-based positions; returns the library's error
    // code (0 on success).
    using MoveFunction = std::function<int(void* head, int primary, int secondary)>;

    explicit CApertureMover(MoveFunction move, QObject* parent = nullptr);
    ~CApertureMover() override;

    // False, starting nothing, while a move is still running.
    bool Start(void* head, int primary, int secondary);
    bool Busy() const { return m_worker.Busy(); }

signals:
    // Delivered on the owner's thread after the move function returned.
    void Finished(int error, int primary, int secondary);

private:
    MoveFunction m_move;
    CWorker m_worker;  // last: the move has returned before m_move goes
};
