// The aperture move worker.
#include "ApertureMover.h"

#include <utility>

CApertureMover::CApertureMover(MoveFunction move, QObject* parent)
    : QObject(parent), m_move(std::move(move)) {}

CApertureMover::~CApertureMover() {
    if (m_thread.joinable()) m_thread.join();
}

bool CApertureMover::Start(void* head, int primary, int secondary) {
    if (m_busy) return false;
    // The previous move has delivered its result, so its thread has ended
    // or is about to.
    if (m_thread.joinable()) m_thread.join();
    m_busy = true;
    m_thread = std::thread([this, move = m_move, head, primary, secondary] {
        const int error = move(head, primary, secondary);
        QMetaObject::invokeMethod(
            this,
            [this, error, primary, secondary] {
                m_busy = false;
                emit Finished(error, primary, secondary);
            },
            Qt::QueuedConnection);
    });
    return true;
}
