#include "engine/core/lifecycle/maintenance.h"

#include <system_error>

#include "common/text/strings.h"
#include "engine/core/lifecycle/engine.h"

namespace corvane::lifecycle {

Maintenance::Maintenance(Engine& engine, std::chrono::milliseconds period) : m_engine(engine), m_period(period) {}

Maintenance::~Maintenance()
{
    stop();
}

bool Maintenance::start()
{
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Maintenance::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_shutdown = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void Maintenance::run()
{
    log::LogFile& log = *m_engine.log;
    log.line(log::Level::lifecycle, "Maintenance thread starting...");
    for (;;) {
        round();
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, m_period, [this] { return m_shutdown; })) {
            log.line(log::Level::detail, "Maintenance thread received shutdown notice.");
            break;
        }
    }
    m_engine.running.store(false);
    log.line(log::Level::lifecycle, "Maintenance thread exiting...");
}

void Maintenance::round()
{
    Engine& engine = m_engine;
    if (engine.log->check_rotation())
        (void)engine.settings->write_text("Other", "LatestLogFile", engine.log->current_path());

    auto* slots = static_cast<unsigned char*>(engine.session_slots.data());
    std::size_t count = engine.sessions->publish(slots, slots ? engine.slot_count : 0);
    engine.status.set(StatusField::sessions, static_cast<std::int32_t>(count));

    if (auto id = engine.status.pending_kill()) {
        std::string shown = text::without_controls(*id);
        engine.log->line(log::Level::routine, "Deleting session %s.", shown.c_str());
        {
            log::RequestLog buffer(engine.log.get());
            engine.sessions->delete_by_id(*id, buffer);
        }
        engine.status.kill_done();
    }

    engine.sessions->expire_idle();
}

}  // namespace corvane::lifecycle
