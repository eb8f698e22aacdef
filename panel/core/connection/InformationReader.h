// What the diagnostics information dialog shows: the three instruments'
// identifications, read once, and their live values (head temperatures,
// supply current and voltage, counter hours and power cycles), read on
// request, plus the texts each value is shown as.
//
// Ownership and threads: the dialog owns one reader and calls it on the GUI
// thread. The reader owns one worker, on which every driver call runs; the
// results come back by value to the callbacks on the owner's thread (which
// must run an event loop). The destructor lets a running read finish and
// joins the worker; results not yet delivered are dropped. The handles
// must stay valid while the reader lives; a null handle is read as a
// failure.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "Worker.h"

namespace information {

// An identification's whole reply, or "ERROR" when it could not be read.
struct Identifications {
    std::string head, supply, counter;
};

// One refresh; a value that could not be read is empty.
struct Values {
    // As the head sends them: primary motor, secondary motor, bulb
    // enclosure, motor enclosure.
    std::optional<std::array<double, 4>> temperatures;
    std::optional<double> current, voltage, elapsedSeconds;
    std::optional<std::uint32_t> powerCycles;
};

inline constexpr const char* kReadError = "ERROR";

// The four temperature fields in the dialog's order, from the head's order.
struct TemperatureTexts {
    std::string bulbEnclosure, motorEnclosure, primaryMotor, secondaryMotor;
};
TemperatureTexts TemperatureFields(const std::array<double, 4>& headOrder);
std::string TemperatureText(double celsius);  // "35.3 °C"
std::string CurrentText(double amperes);       // "1.235 A"
std::string VoltageText(double volts);         // "12.000 V"
// Whole seconds first, then hours, minutes and seconds: 59.7 -> "00H:01M:00S".
std::string HourCountText(double seconds);
std::string PowerCyclesText(std::uint32_t count);

}  // namespace information

class CInformationReader {
public:
    using IdentificationsCallback = std::function<void(information::Identifications)>;
    using ValuesCallback = std::function<void(information::Values)>;

    CInformationReader(void* head, void* supply, void* counter, IdentificationsCallback onIds,
                       ValuesCallback onValues);
    ~CInformationReader() = default;  // m_worker's destructor joins
    CInformationReader(const CInformationReader&) = delete;
    CInformationReader& operator=(const CInformationReader&) = delete;

    // Queues the identifications, then a first refresh.
    void Start();
    // Queues a refresh unless one is queued or running; false when skipped.
    bool Refresh();

private:
    information::Identifications ReadIdentifications() const;
    information::Values ReadValues() const;

    void* const m_head;
    void* const m_supply;
    void* const m_counter;
    const IdentificationsCallback m_onIds;
    const ValuesCallback m_onValues;
    CWorker m_worker;  // last: gone first, while everything it reaches still exists
};
