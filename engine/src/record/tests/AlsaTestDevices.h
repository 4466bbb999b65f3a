#pragma once

// Test microphones for the real libasound: each helper writes a configuration
// file whose "default" PCM is the device wanted and points ALSA_CONFIG_PATH
// at it. A new file per call makes libasound reload it.

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace lagwell::testing {

class AlsaTestDevices {
public:
    static constexpr int kRate = 48000;

    explicit AlsaTestDevices(std::string dir) : m_dir(std::move(dir)) {}
    ~AlsaTestDevices()
    {
        unsetenv("ALSA_CONFIG_PATH");
        snd_config_update_free_global();
    }
    AlsaTestDevices(const AlsaTestDevices&) = delete;
    AlsaTestDevices& operator=(const AlsaTestDevices&) = delete;

    void useConfig(const std::string& text)
    {
        const std::string path = m_dir + "/asound-" + std::to_string(m_configs++) + ".conf";
        std::ofstream(path) << text;
        setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }

    // The file plugin reading `rawFile` over a null slave: as fast as it is read.
    void useToneDevice(const std::string& rawFile)
    {
        useConfig("pcm.!default {\n"
                  "  type file\n"
                  "  slave.pcm { type null }\n"
                  "  file \"/dev/null\"\n"
                  "  infile \"" + rawFile + "\"\n"
                  "  format \"raw\"\n"
                  "}\n");
    }

    // The file plugin reading `rawFile` over the paced test device: in real
    // time, as a microphone delivers.
    void useRealTimeToneDevice(const std::string& rawFile)
    {
        useConfig("pcm_type.tvxfake { lib \"" TVX_FAKE_PCM_PLUGIN "\" }\n"
                  "pcm.!default {\n"
                  "  type file\n"
                  "  slave.pcm { type tvxfake mode \"paced\" }\n"
                  "  file \"/dev/null\"\n"
                  "  infile \"" + rawFile + "\"\n"
                  "  format \"raw\"\n"
                  "}\n");
    }

    // The test plugin with the given extra fields.
    void useFakeDevice(const std::string& fields)
    {
        useConfig("pcm_type.tvxfake { lib \"" TVX_FAKE_PCM_PLUGIN "\" }\n"
                  "pcm.!default { type tvxfake " + fields + " }\n");
    }

    // A device that cannot be opened: the recording has no microphone.
    void useMissingDevice() { useConfig("pcm.!default { type hw card 29 }\n"); }

    // Signed 16-bit mono sine samples.
    static std::vector<int16_t> tone(double hertz, double amplitude, int frames)
    {
        std::vector<int16_t> samples(static_cast<size_t>(frames));
        for (int i = 0; i < frames; ++i)
            samples[size_t(i)] = int16_t(std::lround(amplitude * std::sin(2 * M_PI * hertz * i / kRate)));
        return samples;
    }

    // Where the test device's tone (a square wave of +-8000, never quiet for
    // 10 ms while it sounds) starts and stops in 48 kHz mono samples, in s.
    static std::vector<double> toneEdgesSeconds(const int16_t* samples, int64_t count)
    {
        constexpr int64_t kQuietFrames = kRate / 100;
        std::vector<double> edges;
        int64_t lastLoud = -1;
        for (int64_t i = 0; i < count; ++i) {
            if (std::abs(int(samples[i])) <= 4000)
                continue;
            if (lastLoud < 0 || i - lastLoud > kQuietFrames) {
                if (lastLoud >= 0)
                    edges.push_back(double(lastLoud + 1) / kRate);
                edges.push_back(double(i) / kRate);
            }
            lastLoud = i;
        }
        if (lastLoud >= 0 && count - lastLoud > kQuietFrames)
            edges.push_back(double(lastLoud + 1) / kRate);
        return edges;
    }

    // The tone's frequency in each 100 ms from `fromSeconds` on that lies 20 ms
    // or more inside a stretch between `edges` (on, off, on, ...), from the
    // rising zero crossings of 48 kHz mono samples (the square wave low-passed
    // to its fundamental first): (start, hertz).
    static std::vector<std::pair<double, double>> hertzByTenths(const int16_t* lowPassed, int64_t count,
                                                                const std::vector<double>& edges, double fromSeconds)
    {
        std::vector<double> rises;
        for (int64_t i = 1; i < count; ++i) {
            if (lowPassed[i - 1] < 0 && lowPassed[i] >= 0)
                rises.push_back((double(i - 1) + double(-lowPassed[i - 1]) / double(lowPassed[i] - lowPassed[i - 1])) /
                                kRate);
        }
        std::vector<std::pair<double, double>> out;
        for (size_t e = 0; e + 1 < edges.size(); e += 2) {
            for (double t = std::max(edges[e] + 0.02, fromSeconds); t + 0.1 <= edges[e + 1] - 0.02; t += 0.1) {
                const auto first = std::lower_bound(rises.begin(), rises.end(), t);
                const auto end = std::lower_bound(rises.begin(), rises.end(), t + 0.1);
                if (end - first >= 10)
                    out.push_back({t, double(end - first - 1) / (*(end - 1) - *first)});
            }
        }
        return out;
    }

    // Writes samples as a raw file in the directory; returns its path.
    std::string writeRaw(const std::string& name, const std::vector<int16_t>& samples)
    {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(samples.data()), std::streamsize(samples.size() * 2));
        return path;
    }

private:
    std::string m_dir;
    int m_configs = 0;
};

}  // namespace lagwell::testing
