#include "thermal_model.h"

#include <cmath>

namespace q274 {

namespace {
bool validChannel(int channel) { return channel >= 1 && channel <= 4; }
}  // namespace

ThermalModel::ThermalModel(const ThermalConfig &config)
    : m_config(config), m_rng(config.seed)
{
    if (!(m_config.timeConstantS > 0))
        m_config.timeConstantS = 600.0;
    for (int i = 0; i < 4; ++i)
        m_temp[i] = m_config.ambient + m_config.startOffset[i];
}

void ThermalModel::advance(double simSeconds)
{
    if (!(simSeconds > 0))
        return;
    // Exact solution of dT/dt = (ambient - T) / tau + rate for a constant
    // relay state, so the result does not depend on how often we are called.
    const double tau = m_config.timeConstantS;
    const double decay = std::exp(-simSeconds / tau);
    for (int i = 0; i < 4; ++i) {
        double rate = 0.0;  // degrees per second
        if (m_relay[i])
            rate = (m_config.cooling[i] ? -1.0 : 1.0) * m_config.relayRatePerMin / 60.0;
        const double equilibrium = m_config.ambient + rate * tau;
        m_temp[i] = equilibrium + (m_temp[i] - equilibrium) * decay;
    }
}

double ThermalModel::temperature(int channel) const
{
    return validChannel(channel) ? m_temp[channel - 1] : m_config.ambient;
}

void ThermalModel::setTemperature(int channel, double celsius)
{
    if (validChannel(channel))
        m_temp[channel - 1] = celsius;
}

double ThermalModel::reading(int channel)
{
    const double noise = m_config.noise > 0 ? (nextUniform() * 2.0 - 1.0) * m_config.noise : 0.0;
    return temperature(channel) + noise;
}

void ThermalModel::setRelay(int channel, bool on)
{
    if (validChannel(channel))
        m_relay[channel - 1] = on;
}

bool ThermalModel::relay(int channel) const
{
    return validChannel(channel) && m_relay[channel - 1];
}

unsigned ThermalModel::relayBits() const
{
    unsigned bits = 0;
    for (int i = 0; i < 4; ++i)
        if (m_relay[i])
            bits |= 1u << i;
    return bits;
}

double ThermalModel::nextUniform()
{
    // splitmix64: small, seedable and the same on every platform.
    std::uint64_t z = (m_rng += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
}

}  // namespace q274
