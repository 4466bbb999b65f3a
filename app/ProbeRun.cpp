#include "ProbeRun.h"

#include "Engine.h"

#include <QtGlobal>

#include <pthread.h>

#include <exception>
#include <utility>

namespace {

std::mutex g_earlyMutex;
// guards: g_early
std::shared_ptr<ProbeRun> g_early;

}  // namespace

ProbeRun::ProbeRun()
{
    m_thread = std::thread([this] { run(); });
}

ProbeRun::~ProbeRun()
{
    if (m_thread.joinable())
        m_thread.join();
}

void ProbeRun::run()
{
    pthread_setname_np(pthread_self(), "tvx-probe");
    lagwell::Capabilities capabilities;
    try {
        capabilities = lagwell::Engine::probe();
    } catch (const std::exception& e) {
        qWarning("EngineBridge: capability probe failed: %s", e.what());
    }
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        m_result = capabilities;
        handler = std::move(m_handler);
        m_handler = nullptr;
    }
    m_arrived.notify_all();
    if (handler)
        handler(capabilities);
}

lagwell::Capabilities ProbeRun::wait()
{
    std::unique_lock lock(m_mutex);
    m_arrived.wait(lock, [this] { return m_result.has_value(); });
    return *m_result;
}

void ProbeRun::whenDone(Handler handler)
{
    std::optional<lagwell::Capabilities> result;
    {
        std::lock_guard lock(m_mutex);
        if (!m_result) {
            m_handler = std::move(handler);
            return;
        }
        result = m_result;
    }
    handler(*result);
}

std::shared_ptr<ProbeRun> ProbeRun::startEarly()
{
    auto run = std::make_shared<ProbeRun>();
    std::lock_guard lock(g_earlyMutex);
    g_early = run;
    return run;
}

std::shared_ptr<ProbeRun> ProbeRun::takeEarly()
{
    std::lock_guard lock(g_earlyMutex);
    return std::exchange(g_early, nullptr);
}
