// The aperture move worker.
#include "ApertureMover.h"

#include <utility>

namespace {

struct MoveResult {
    int error, primary, secondary;
};

}  // namespace

CApertureMover::CApertureMover(MoveFunction move, QObject* parent)
    : QObject(parent), m_move(std::move(move)) {
    connect(&m_worker, &CWorker::Finished, this, [this](const QVariant& result) {
        const auto move = result.value<MoveResult>();
        emit Finished(move.error, move.primary, move.secondary);
    });
}

CApertureMover::~CApertureMover() = default;

bool CApertureMover::Start(void* head, int primary, int secondary) {
    return m_worker.Request(
        [move = m_move, head, primary, secondary] {
            return QVariant::fromValue(MoveResult{move(head, primary, secondary), primary, secondary});
        },
        CWorker::IfBusy::Skip);
}
