#pragma once

// Shared by the engine's recording and sharing tests: a headless GL "window"
// that the test pumps like Qt's render loop, and an event recorder.

#include "Engine.h"

#include "DisplayFrames.h"
#include "GlTestContext.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lagwell::test {

class EventRecorder {
public:
    std::function<void(const EngineEvent&)> handler()
    {
        return [this](const EngineEvent& event) {
            std::lock_guard lock(m_mutex);
            m_events.push_back(event);
            m_changed.notify_all();
        };
    }

    // The first event of that kind, waiting up to `timeout` for it.
    std::optional<EngineEvent> waitFor(EngineEvent::Kind kind, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        std::optional<EngineEvent> found;
        m_changed.wait_for(lock, timeout, [&] {
            for (const auto& e : m_events)
                if (e.kind == kind) {
                    found = e;
                    return true;
                }
            return false;
        });
        return found;
    }

    int count(EngineEvent::Kind kind)
    {
        std::lock_guard lock(m_mutex);
        int n = 0;
        for (const auto& e : m_events)
            n += e.kind == kind;
        return n;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<EngineEvent> m_events;
};

// Draws every panel into a full-window layout and runs the after-frame step,
// about 30 times a second (or every `frameInterval`), on the calling thread
// (which owns the context).
// `composites`, when given, gets the time each after-frame step ended.
inline void pumpFrames(Engine& engine, GlTestContext& gl, const std::vector<int>& panels,
                       std::chrono::milliseconds duration,
                       std::vector<std::chrono::steady_clock::time_point>* composites = nullptr,
                       std::chrono::microseconds frameInterval = std::chrono::milliseconds(33))
{
    const auto end = std::chrono::steady_clock::now() + duration;
    auto next = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < end) {
        gl.bindTarget();
        const int columns = panels.size() > 1 ? 2 : 1;
        const int rows = static_cast<int>((panels.size() + 1) / 2);
        const int w = gl.width() / columns;
        const int h = gl.height() / (rows > 0 ? rows : 1);
        for (size_t i = 0; i < panels.size(); ++i)
            engine.renderPanel(panels[i], {static_cast<int>(i % 2) * w, static_cast<int>(i / 2) * h, w, h},
                               gl.width(), gl.height());
        engine.afterFrame();
        if (composites)
            composites->push_back(std::chrono::steady_clock::now());
        // On an even beat, as a display's; a frame that ran over starts the beat again.
        next += frameInterval;
        const auto now = std::chrono::steady_clock::now();
        if (next < now)
            next = now;
        std::this_thread::sleep_until(next);
    }
}

// As pumpFrames, but as a real screen draws, each panel over the whole
// window: at each frame of `display` (its refreshes, late by the frame's
// work, stalled now and then), sleeping to the moment each is drawn; a host
// that fell a refresh behind waits for the next one, as a swap does.
inline void pumpDisplay(Engine& engine, GlTestContext& gl, const std::vector<int>& panels,
                        std::chrono::milliseconds duration, DisplayFrames& display)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        DisplayFrames::Frame frame = display.next();
        const int64_t nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count();
        while (frame.refreshNs + display.refreshIntervalNs() < nowNs)
            frame = display.next();
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(frame.drawnNs)));
        gl.bindTarget();
        for (size_t i = 0; i < panels.size(); ++i)
            engine.renderPanel(panels[i], {0, 0, gl.width(), gl.height()}, gl.width(), gl.height());
        engine.afterFrame();
    }
}

// Runs a command and returns what it printed on standard output.
inline std::string commandOutput(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

}  // namespace lagwell::test
