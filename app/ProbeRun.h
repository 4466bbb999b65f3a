#pragma once

// One run of the capability probe (lagwell::Engine::probe) on a thread of
// its own, "tvx-probe". The result can be waited for, or handed to a
// handler when it arrives. main starts the run of the process before the
// GUI application exists (startEarly), so the probe works beside the
// program's start-up; the first bridge takes that run (takeEarly) instead of
// starting its own.

#include "EngineTypes.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class ProbeRun {
public:
    using Handler = std::function<void(const lagwell::Capabilities&)>;

    // Starts the probe.
    ProbeRun();
    // Waits for the probe to finish.
    ~ProbeRun();

    ProbeRun(const ProbeRun&) = delete;
    ProbeRun& operator=(const ProbeRun&) = delete;

    // Blocks until the result is there and returns it. Not on the probe thread.
    lagwell::Capabilities wait();

    // `handler` gets the result once: at once, on the calling thread, when
    // it is already there; otherwise on the probe thread when it arrives.
    // Replaces a handler not called yet.
    void whenDone(Handler handler);

    // The process's early run, started now; main keeps the result so the
    // probe is waited for before the program ends.
    static std::shared_ptr<ProbeRun> startEarly();
    // The early run if one was started and nobody took it yet, else null.
    static std::shared_ptr<ProbeRun> takeEarly();

private:
    void run();

    std::mutex m_mutex;
    // guards: m_result, m_handler
    std::optional<lagwell::Capabilities> m_result;
    Handler m_handler;
    std::condition_variable m_arrived;

    std::thread m_thread;
};
