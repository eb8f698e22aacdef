// The aperture move worker.
#include "ApertureMover.h"

#include <utility>

CApertureMover::CApertureMover(MoveFunction move, QObject* parent)
    : QObject(parent), m_move(std::move(move)) {
    connect(this, &CApertureMover::Returned, this, [this](int error, int primary, int secondary) {
        m_busy = false;
        emit Finished(error, primary, secondary);
    }, Qt::QueuedConnection);
}

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
        // A signal, not a queued functor: Qt copies the values itself.
        emit Returned(move(head, primary, secondary), primary, secondary);
    });
    return true;
}
