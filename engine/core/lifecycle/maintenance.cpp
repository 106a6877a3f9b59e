#include "engine/core/lifecycle/maintenance.h"

#include <system_error>

#include "common/log/log_texts.h"
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
    log::LogFile& log = *m_engine.m_log;
    log.line(log::Level::lifecycle, log::texts::maintenance_starting);
    for (;;) {
        round();
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, m_period, [this] { return m_shutdown; })) {
            log.line(log::Level::detail, log::texts::maintenance_notice_received);
            break;
        }
    }
    m_engine.m_running.store(false);
    log.line(log::Level::lifecycle, log::texts::maintenance_exiting);
}

void Maintenance::round()
{
    Engine& engine = m_engine;
    if (engine.m_log->check_rotation())
        (void)engine.m_settings->write_text("Other", "LatestLogFile", engine.m_log->current_path());

    auto* slots = static_cast<unsigned char*>(engine.m_session_slots.data());
    std::size_t count = engine.m_sessions->publish(slots, slots ? engine.m_slot_count : 0);
    engine.m_status.set(StatusField::sessions, static_cast<std::int32_t>(count));

    if (auto id = engine.m_status.pending_kill()) {
        std::string shown = text::without_controls(*id);
        engine.m_log->line(log::Level::routine, log::texts::deleting_session, shown.c_str());
        {
            log::RequestLog buffer(engine.m_log.get());
            engine.m_sessions->delete_by_id(*id, buffer);
        }
        engine.m_status.kill_done();
    }

    engine.m_sessions->expire_idle();
}

}  // namespace corvane::lifecycle
