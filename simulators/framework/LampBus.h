// The lamp as the three simulated instruments share it in quorvex-sim: the
// supply drives it, the head's bulb enclosure warms while it is lit, and the
// counter runs while it is lit and counts each time the output is switched
// on.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

namespace sim {

class CLampBus {
public:
    using Listener = std::function<void(bool outputOn, double amps)>;

    // Listeners are called on the supply's thread; they must be quick.
    void Subscribe(Listener listener);
    void SetState(bool outputOn, double amps);

    bool OutputOn() const;
    double Amps() const;
    // Lit: output on and a current flowing.
    bool Lit() const;

private:
    mutable std::mutex m_mutex;
    bool m_outputOn = false;
    double m_amps = 0.0;
    std::vector<Listener> m_listeners;
};

}  // namespace sim
