// Thermal model of the four channels: each drifts exponentially toward the
// ambient temperature, and a relay that is on adds a constant heating (or
// cooling) rate. Time is passed in by the caller, so the model runs on any
// clock, real or made up.
#pragma once

#include <array>
#include <cstdint>

namespace q274 {

struct ThermalConfig {
    double ambient = 21.0;                                   // degrees C
    double timeConstantS = 600.0;                            // simulated seconds
    double relayRatePerMin = 2.0;                            // degrees C per simulated minute while a relay is on
    std::array<bool, 4> cooling{};                           // relay N cools its channel instead of heating it
    std::array<double, 4> startOffset{0.8, -0.5, 1.3, -1.1}; // start = ambient + offset
    double noise = 0.05;                                     // readings scatter uniformly within +/- this
    std::uint64_t seed = 1;
};

class ThermalModel {
public:
    explicit ThermalModel(const ThermalConfig &config);

    // Moves the model on by this many simulated seconds (negative: ignored).
    void advance(double simSeconds);

    // channel is 1..4 throughout; out-of-range channels are a caller error
    // and are answered with neutral values instead of touching memory.
    double temperature(int channel) const;
    void setTemperature(int channel, double celsius);
    // The temperature as a sensor reads it: with noise from the seeded generator.
    double reading(int channel);

    void setRelay(int channel, bool on);
    bool relay(int channel) const;
    // Bit 0 = relay 1 ... bit 3 = relay 4.
    unsigned relayBits() const;

    const ThermalConfig &config() const { return FConfig; }

private:
    double nextUniform(); // [0, 1)

    ThermalConfig FConfig;
    std::array<double, 4> FTemp{};
    std::array<bool, 4> FRelay{};
    std::uint64_t FRng;
};

} // namespace q274
