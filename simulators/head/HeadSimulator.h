// Simulated Quorvex head unit on a pseudo-terminal: identification, status,
// homing and moves of the two aperture wheels with their completion
// notifications, position, four temperatures, numbered parameters and the
// two calibration tables (uploaded line by line, downloaded as multi-line
// replies). It starts with a factory calibration. Tests can change its
// identity, timing, temperatures and any reply, and arm the framework's
// faults per command.
#pragma once

#include "framework/LampBus.h"
#include "framework/SimDevice.h"

#include <array>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct HeadIdentity {
    std::string manufacturer = "Vandrel Scientific Ltd";
    std::string model = "QUORVEX";
    std::string firmware = "QVX-FW 2.14";
    std::string serialNumber = "10427";
};

class CHeadSimulator : public CSimDevice {
public:
    // Line-rate mode: the unit's firmware starts a reply this long after a
    // command's carriage return (it parses the line and, for "P?" and "T?",
    // samples its encoders or sensors first).
    static constexpr std::chrono::microseconds kTurnaround{3000};

    using SpectralTable = std::vector<std::pair<double, double>>;  // (nm, W/m^2/sr/nm)

    static constexpr unsigned kPrimaryPositions = 3;
    static constexpr unsigned kSecondaryPositions = 12;

    // The lamp bus is optional: quorvex-sim couples the three instruments
    // through it (the bulb enclosure warms while the lamp is lit); tests
    // usually run one instrument alone. Start() begins serving.
    CHeadSimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                   CLampBus* lamp = nullptr);
    ~CHeadSimulator() override;

    // ---- Behaviour --------------------------------------------------------
    void SetIdentity(HeadIdentity identity);
    // How long after its acknowledgement a homing or a move reports "!H:1"
    // or "!P:1".
    void SetMotionTimes(std::chrono::milliseconds home, std::chrono::milliseconds move);
    // false: homing and moves complete silently (no notification is sent).
    void SetNotifying(bool notifying);
    // Fixed readings instead of the thermal model (deg C).
    void SetTemperatures(double primaryMotor, double secondaryMotor, double bulbEnclosure,
                         double motorEnclosure);
    void UseThermalModel();
    // Every command matching `pattern` (whole command) is answered with
    // `line` and a CR instead of its normal reply (state is left alone).
    void OverrideReply(const std::string& pattern, const std::string& line);
    void ClearOverrides();

    // ---- State, for checking what the driver did ---------------------------
    SpectralTable SpectralData() const;
    // The aperture factors in the order they travel: column by column.
    std::vector<double> ApertureFactors() const;
    void SetSpectralData(SpectralTable table);
    void SetApertureFactors(std::vector<double> factors);
    std::pair<unsigned, unsigned> Position();
    int Parameter(unsigned number) const;
    double BulbTemperature();

    // The factory calibration every simulated head starts with: a lamp
    // spectrum from 350 to 1150 nm in 10 nm steps, and 12 rows (secondary
    // wheel) of 3 factors (primary wheel).
    static SpectralTable FactorySpectrum();
    static std::vector<std::vector<double>> FactoryApertureRows();
    // Rows to the column-by-column order of the wire.
    static std::vector<double> ToColumnOrder(const std::vector<std::vector<double>>& rows);

protected:
    Reply Unknown(const std::string& command) override;

private:
    enum class Receiving { None, Spectral, Aperture };

    void Serve(const std::string& pattern, std::function<Reply(const std::smatch&)> handler);
    std::optional<std::string> OverrideFor(const std::string& command) const;  // lock held

    Reply Identify();
    Reply Status();
    Reply Home();
    Reply Move(const std::smatch& match);
    Reply GetPosition();
    Reply GetTemperatures();
    Reply SetParameter(const std::smatch& match);
    Reply GetParameter(const std::smatch& match);
    Reply SpectralLine(const std::smatch& match);
    Reply FactorLine(const std::smatch& match);

    void SettleMotion(Clock::time_point now);  // lock held
    void UpdateBulb(Clock::time_point now);     // lock held
    void Notify(std::chrono::milliseconds after, const char* text);

    CLampBus* m_lamp;

    mutable std::mutex m_mutex;  // guards everything below
    HeadIdentity m_identity;
    std::chrono::milliseconds m_homeTime{2500};
    std::chrono::milliseconds m_moveTime{900};
    bool m_notifying = true;
    std::vector<std::pair<std::regex, std::string>> m_overrides;  // pattern, line

    std::pair<unsigned, unsigned> m_position{0, 0};
    std::pair<unsigned, unsigned> m_target{0, 0};
    Clock::time_point m_motionEnds{};
    int m_motion = 0;  // status: 0 idle, 1 homing, 2 moving

    std::optional<std::array<double, 4>> m_fixedTemperatures;  // wire order
    double m_bulb = 0.0;                                         // rise above ambient
    Clock::time_point m_bulbUpdated;

    std::map<unsigned, int> m_parameters;
    SpectralTable m_spectral;
    std::vector<double> m_aperture;
    Receiving m_receiving = Receiving::None;
    size_t m_expected = 0;
    SpectralTable m_stagedSpectral;
    std::vector<double> m_stagedAperture;
};

}  // namespace sim
