// The lamp shared by the simulated instruments (see LampBus.h).
#include "LampBus.h"

namespace sim {

void CLampBus::Subscribe(Listener listener) {
    std::lock_guard lock(m_mutex);
    m_listeners.push_back(std::move(listener));
}

void CLampBus::SetState(bool outputOn, double amps) {
    std::vector<Listener> listeners;
    {
        std::lock_guard lock(m_mutex);
        m_outputOn = outputOn;
        m_amps = amps;
        listeners = m_listeners;
    }
    // Outside the lock: a listener may read the bus back.
    for (const auto& listener : listeners) listener(outputOn, amps);
}

bool CLampBus::OutputOn() const {
    std::lock_guard lock(m_mutex);
    return m_outputOn;
}

double CLampBus::Amps() const {
    std::lock_guard lock(m_mutex);
    return m_amps;
}

bool CLampBus::Lit() const {
    std::lock_guard lock(m_mutex);
    return m_outputOn && m_amps > 0.0;
}

}  // namespace sim
