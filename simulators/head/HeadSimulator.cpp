// Simulated Quorvex head unit (see HeadSimulator.h).
#include "HeadSimulator.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

constexpr double kAmbient = 22.0;
// The bulb enclosure settles this far above ambient while the lamp is lit,
// with this time constant, and cools back the same way.
constexpr double kBulbRise = 38.0;
constexpr double kBulbTimeConstantS = 90.0;
// Calibration store limits, as the unit's memory has them.
constexpr long kMaxTableEntries = 10000;
constexpr unsigned kMaxParameter = 15;

std::string Line(const std::string& text) { return text + "\r"; }
std::string Code(int code) { return Line(std::to_string(code)); }

std::string Printf(const char* format, double a) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a);
    return buffer;
}

bool ParseDouble(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0';
}

// Numbers that do not fit are as good as out of range.
bool ParseUnsigned(const std::string& text, unsigned long& value) {
    errno = 0;
    value = std::strtoul(text.c_str(), nullptr, 10);
    return errno == 0;
}

}  // namespace

CHeadSimulator::CHeadSimulator(const std::filesystem::path& portsFolder, unsigned comNumber,
                               CLampBus* lamp)
    : CSimDevice(portsFolder, comNumber, "\r"),
      m_lamp(lamp),
      m_bulbUpdated(Clock::now()),
      m_spectral(FactorySpectrum()),
      m_aperture(ToColumnOrder(FactoryApertureRows())) {
    SetTurnaround(kTurnaround);
    Serve(R"(I\?)", [this](const std::smatch&) { return Identify(); });
    Serve(R"(S\?)", [this](const std::smatch&) { return Status(); });
    Serve(R"(H!)", [this](const std::smatch&) { return Home(); });
    Serve(R"(P\((\d+),(\d+)\))", [this](const std::smatch& m) { return Move(m); });
    Serve(R"(P\?)", [this](const std::smatch&) { return GetPosition(); });
    Serve(R"(T\?)", [this](const std::smatch&) { return GetTemperatures(); });
    Serve(R"(C(\d+)\((-?\d+)\))", [this](const std::smatch& m) { return SetParameter(m); });
    Serve(R"(C(\d+)\?)", [this](const std::smatch& m) { return GetParameter(m); });
    Serve(R"(\s*([-+0-9.eE]+)\s*,\s*([-+0-9.eE]+)\s*)", [this](const std::smatch& m) { return SpectralLine(m); });
    Serve(R"(\s*([-+0-9.eE]+|[-+]?(?:INF|inf|NAN|nan))\s*)", [this](const std::smatch& m) { return FactorLine(m); });
}

CHeadSimulator::~CHeadSimulator() { Stop(); }

void CHeadSimulator::Serve(const std::string& pattern, std::function<Reply(const std::smatch&)> handler) {
    On(pattern, [this, handler = std::move(handler)](const std::smatch& match) -> Reply {
        {
            std::lock_guard lock(m_mutex);
            if (auto line = OverrideFor(match.str(0))) return Line(*line);
        }
        return handler(match);
    });
}

std::optional<std::string> CHeadSimulator::OverrideFor(const std::string& command) const {
    for (const auto& [pattern, line] : m_overrides)
        if (std::regex_match(command, pattern)) return line;
    return std::nullopt;
}

CSimDevice::Reply CHeadSimulator::Unknown(const std::string& command) {
    std::lock_guard lock(m_mutex);
    if (auto line = OverrideFor(command)) return Line(*line);
    return Code(-6);  // Syntax Error
}

// ---- Configuration ----------------------------------------------------------

void CHeadSimulator::SetIdentity(HeadIdentity identity) {
    std::lock_guard lock(m_mutex);
    m_identity = std::move(identity);
}

void CHeadSimulator::SetMotionTimes(std::chrono::milliseconds home, std::chrono::milliseconds move) {
    std::lock_guard lock(m_mutex);
    m_homeTime = home;
    m_moveTime = move;
}

void CHeadSimulator::SetNotifying(bool notifying) {
    std::lock_guard lock(m_mutex);
    m_notifying = notifying;
}

void CHeadSimulator::SetTemperatures(double primaryMotor, double secondaryMotor, double bulbEnclosure,
                                     double motorEnclosure) {
    std::lock_guard lock(m_mutex);
    m_fixedTemperatures = std::array<double, 4>{motorEnclosure, bulbEnclosure, primaryMotor, secondaryMotor};
}

void CHeadSimulator::UseThermalModel() {
    std::lock_guard lock(m_mutex);
    m_fixedTemperatures.reset();
}

void CHeadSimulator::OverrideReply(const std::string& pattern, const std::string& line) {
    std::regex compiled(pattern);
    std::lock_guard lock(m_mutex);
    m_overrides.emplace_back(std::move(compiled), line);
}

void CHeadSimulator::ClearOverrides() {
    std::lock_guard lock(m_mutex);
    m_overrides.clear();
}

CHeadSimulator::SpectralTable CHeadSimulator::SpectralData() const {
    std::lock_guard lock(m_mutex);
    return m_spectral;
}

std::vector<double> CHeadSimulator::ApertureFactors() const {
    std::lock_guard lock(m_mutex);
    return m_aperture;
}

void CHeadSimulator::SetSpectralData(SpectralTable table) {
    std::lock_guard lock(m_mutex);
    m_spectral = std::move(table);
}

void CHeadSimulator::SetApertureFactors(std::vector<double> factors) {
    std::lock_guard lock(m_mutex);
    m_aperture = std::move(factors);
}

std::pair<unsigned, unsigned> CHeadSimulator::Position() {
    std::lock_guard lock(m_mutex);
    SettleMotion(Clock::now());
    return m_position;
}

int CHeadSimulator::Parameter(unsigned number) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_parameters.find(number);
    return it == m_parameters.end() ? 0 : it->second;
}

double CHeadSimulator::BulbTemperature() {
    std::lock_guard lock(m_mutex);
    UpdateBulb(Clock::now());
    return kAmbient + 2.0 + m_bulb;
}

// ---- Factory calibration ------------------------------------------------------

CHeadSimulator::SpectralTable CHeadSimulator::FactorySpectrum() {
    // A tungsten-halogen filament at 2950 K behind the diffuser: Planck's law
    // scaled to the source's low radiance.
    constexpr double h = 6.62607015e-34, c = 2.99792458e8, k = 1.380649e-23, T = 2950.0;
    auto planck = [&](double nm) {
        const double l = nm * 1e-9;
        return 2.0 * h * c * c / std::pow(l, 5) / (std::exp(h * c / (l * k * T)) - 1.0);
    };
    const double peak = planck(2.897771955e-3 / T * 1e9);
    SpectralTable table;
    for (int nm = 350; nm <= 1150; nm += 10) {
        const double radiance = 4.2e-6 * planck(nm) / peak;
        // Stored as the unit stores uploaded pairs: at the precision of the wire.
        double w, r;
        std::sscanf((Printf("%.2f", nm) + "," + Printf("%.3E", radiance)).c_str(), "%lf,%lf", &w, &r);
        table.emplace_back(w, r);
    }
    return table;
}

std::vector<std::vector<double>> CHeadSimulator::FactoryApertureRows() {
    // Primary wheel: open, ND1, ND2; secondary wheel: twelve apertures, each
    // passing a little more than half of the one before.
    constexpr double primary[kPrimaryPositions] = {100.0, 10.12, 1.004};
    std::vector<std::vector<double>> rows;
    for (unsigned r = 0; r < kSecondaryPositions; ++r) {
        std::vector<double> row;
        for (double p : primary) {
            double value;
            std::sscanf(Printf("%.3E", p * std::pow(0.55, r)).c_str(), "%lf", &value);
            row.push_back(value);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<double> CHeadSimulator::ToColumnOrder(const std::vector<std::vector<double>>& rows) {
    std::vector<double> factors;
    const size_t columns = rows.empty() ? 0 : rows.front().size();
    for (size_t c = 0; c < columns; ++c)
        for (const auto& row : rows)
            if (c < row.size()) factors.push_back(row[c]);
    return factors;
}

// ---- Protocol -----------------------------------------------------------------

CSimDevice::Reply CHeadSimulator::Identify() {
    std::lock_guard lock(m_mutex);
    return Line(m_identity.manufacturer + "," + m_identity.model + "," + m_identity.firmware + "," +
                m_identity.serialNumber);
}

CSimDevice::Reply CHeadSimulator::Status() {
    std::lock_guard lock(m_mutex);
    SettleMotion(Clock::now());
    return Code(m_motion);
}

void CHeadSimulator::SettleMotion(Clock::time_point now) {
    if (m_motion != 0 && now >= m_motionEnds) {
        m_position = m_target;
        m_motion = 0;
    }
}

void CHeadSimulator::Notify(std::chrono::milliseconds after, const char* text) {
    // Never due before the acknowledgement, which is scheduled after the
    // handler returns.
    SendRawAfter(std::max(after, std::chrono::milliseconds(5)), text);
}

CSimDevice::Reply CHeadSimulator::Home() {
    std::chrono::milliseconds time;
    bool notify;
    {
        std::lock_guard lock(m_mutex);
        const auto now = Clock::now();
        SettleMotion(now);
        m_target = {0, 0};
        m_motion = 1;
        m_motionEnds = now + m_homeTime;
        time = m_homeTime;
        notify = m_notifying;
    }
    if (notify) Notify(time, "!H:1\r");
    return Code(1);
}

CSimDevice::Reply CHeadSimulator::Move(const std::smatch& match) {
    unsigned long primary = 0, secondary = 0;
    if (!ParseUnsigned(match.str(1), primary) || primary >= kPrimaryPositions) return Code(-1);
    if (!ParseUnsigned(match.str(2), secondary) || secondary >= kSecondaryPositions) return Code(-2);
    std::chrono::milliseconds time;
    bool notify;
    {
        std::lock_guard lock(m_mutex);
        const auto now = Clock::now();
        SettleMotion(now);
        m_target = {static_cast<unsigned>(primary), static_cast<unsigned>(secondary)};
        m_motion = 2;
        m_motionEnds = now + m_moveTime;
        time = m_moveTime;
        notify = m_notifying;
    }
    if (notify) Notify(time, "!P:1\r");
    return Code(1);
}

CSimDevice::Reply CHeadSimulator::GetPosition() {
    std::lock_guard lock(m_mutex);
    SettleMotion(Clock::now());
    return Line(std::to_string(m_position.first) + "," + std::to_string(m_position.second));
}

void CHeadSimulator::UpdateBulb(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - m_bulbUpdated).count();
    m_bulbUpdated = now;
    const double target = (m_lamp && m_lamp->Lit()) ? kBulbRise : 0.0;
    m_bulb = target + (m_bulb - target) * std::exp(-seconds / kBulbTimeConstantS);
}

CSimDevice::Reply CHeadSimulator::GetTemperatures() {
    std::lock_guard lock(m_mutex);
    std::array<double, 4> wire;  // motor enclosure, bulb enclosure, primary motor, secondary motor
    if (m_fixedTemperatures) {
        wire = *m_fixedTemperatures;
    } else {
        const auto now = Clock::now();
        UpdateBulb(now);
        SettleMotion(now);
        // Motors run a little warm while they turn.
        const double working = m_motion != 0 ? 1.5 : 0.0;
        wire = {kAmbient + 3.1 + 0.1 * m_bulb, kAmbient + 2.0 + m_bulb, kAmbient + 4.6 + working,
                kAmbient + 4.2 + working};
    }
    return Line(Printf("%.2f", wire[0]) + "," + Printf("%.2f", wire[1]) + "," + Printf("%.2f", wire[2]) +
                "," + Printf("%.2f", wire[3]));
}

CSimDevice::Reply CHeadSimulator::SetParameter(const std::smatch& match) {
    unsigned long number = 0;
    if (!ParseUnsigned(match.str(1), number) || number > kMaxParameter) return Code(-1);
    const long value = std::strtol(match.str(2).c_str(), nullptr, 10);
    std::lock_guard lock(m_mutex);
    if (number == 0 || number == 1) {
        // Table upload: the count of lines that follow.
        if (value < 0 || value > kMaxTableEntries) return Code(-2);
        m_receiving = number == 0 ? Receiving::Spectral : Receiving::Aperture;
        m_expected = static_cast<size_t>(value);
        m_stagedSpectral.clear();
        m_stagedAperture.clear();
        if (m_expected == 0) {
            if (number == 0) m_spectral.clear();
            else m_aperture.clear();
            m_receiving = Receiving::None;
        }
        return Code(1);
    }
    m_parameters[static_cast<unsigned>(number)] = static_cast<int>(value);
    return Code(1);
}

CSimDevice::Reply CHeadSimulator::GetParameter(const std::smatch& match) {
    unsigned long number = 0;
    if (!ParseUnsigned(match.str(1), number) || number > kMaxParameter) return Code(-1);
    std::lock_guard lock(m_mutex);
    if (number == 0) {
        std::string reply = Code(static_cast<int>(m_spectral.size()));
        for (const auto& [w, r] : m_spectral) reply += Line(Printf("%.2f", w) + "," + Printf("%.3E", r));
        return reply;
    }
    if (number == 1) {
        std::string reply = Code(static_cast<int>(m_aperture.size()));
        for (double f : m_aperture) reply += Line(Printf("%.3E", f));
        return reply;
    }
    const auto it = m_parameters.find(static_cast<unsigned>(number));
    return Code(it == m_parameters.end() ? 0 : it->second);
}

CSimDevice::Reply CHeadSimulator::SpectralLine(const std::smatch& match) {
    std::lock_guard lock(m_mutex);
    if (m_receiving == Receiving::None) return Code(-6);
    double wavelength, radiance;
    if (m_receiving != Receiving::Spectral || !ParseDouble(match.str(1), wavelength) ||
        !ParseDouble(match.str(2), radiance)) {
        m_receiving = Receiving::None;
        return Code(-12);  // ASCII to float conversion error
    }
    m_stagedSpectral.emplace_back(wavelength, radiance);
    if (m_stagedSpectral.size() == m_expected) {
        m_spectral = std::move(m_stagedSpectral);
        m_stagedSpectral.clear();
        m_receiving = Receiving::None;
    }
    return Code(1);
}

CSimDevice::Reply CHeadSimulator::FactorLine(const std::smatch& match) {
    std::lock_guard lock(m_mutex);
    if (m_receiving == Receiving::None) return Code(-6);
    double factor;
    if (m_receiving != Receiving::Aperture || !ParseDouble(match.str(1), factor)) {
        m_receiving = Receiving::None;
        return Code(-12);
    }
    m_stagedAperture.push_back(factor);
    if (m_stagedAperture.size() == m_expected) {
        m_aperture = std::move(m_stagedAperture);
        m_stagedAperture.clear();
        m_receiving = Receiving::None;
    }
    return Code(1);
}

}  // namespace sim
