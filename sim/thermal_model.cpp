#include "thermal_model.h"

#include <cmath>

namespace q274 {

namespace {
bool validChannel(int channel) { return channel >= 1 && channel <= 4; }
} // namespace

ThermalModel::ThermalModel(const ThermalConfig &config) : FConfig(config), FRng(config.seed)
{
    if (!(FConfig.timeConstantS > 0))
        FConfig.timeConstantS = 600.0;
    for (int i = 0; i < 4; ++i)
        FTemp[i] = FConfig.ambient + FConfig.startOffset[i];
}

void ThermalModel::advance(double simSeconds)
{
    if (!(simSeconds > 0))
        return;
    // Exact solution of dT/dt = (ambient - T) / tau + rate for a constant
    // relay state, so the result does not depend on how often we are called.
    const double tau = FConfig.timeConstantS;
    const double decay = std::exp(-simSeconds / tau);
    for (int i = 0; i < 4; ++i) {
        double rate = 0.0; // degrees per second
        if (FRelay[i])
            rate = (FConfig.cooling[i] ? -1.0 : 1.0) * FConfig.relayRatePerMin / 60.0;
        const double equilibrium = FConfig.ambient + rate * tau;
        FTemp[i] = equilibrium + (FTemp[i] - equilibrium) * decay;
    }
}

double ThermalModel::temperature(int channel) const
{
    return validChannel(channel) ? FTemp[channel - 1] : FConfig.ambient;
}

void ThermalModel::setTemperature(int channel, double celsius)
{
    if (validChannel(channel))
        FTemp[channel - 1] = celsius;
}

double ThermalModel::reading(int channel)
{
    const double noise = FConfig.noise > 0 ? (nextUniform() * 2.0 - 1.0) * FConfig.noise : 0.0;
    return temperature(channel) + noise;
}

void ThermalModel::setRelay(int channel, bool on)
{
    if (validChannel(channel))
        FRelay[channel - 1] = on;
}

bool ThermalModel::relay(int channel) const { return validChannel(channel) && FRelay[channel - 1]; }

unsigned ThermalModel::relayBits() const
{
    unsigned bits = 0;
    for (int i = 0; i < 4; ++i)
        if (FRelay[i])
            bits |= 1u << i;
    return bits;
}

double ThermalModel::nextUniform()
{
    // splitmix64: small, seedable and the same on every platform.
    std::uint64_t z = (FRng += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
}

} // namespace q274
