#include "webserver/cgi_bridge.h"

#include <algorithm>

#include "common/platform/files.h"
#include "common/platform/io.h"
#include "common/platform/process.h"
#include "common/text/strings.h"
#include "webserver/cgi_environment.h"
#include "webserver/event_tokens.h"

namespace corvane::webserver {

namespace fs = corvane::platform;

CgiRun::Read CgiRun::read(std::string& out, std::size_t limit)
{
    static char buffer[64 * 1024];  // only the event loop's thread reads
    while (m_output && out.size() < limit) {
        std::size_t room = std::min(sizeof buffer, limit - out.size());
        auto r = fs::read_some(m_output.get(), buffer, room);
        if (r.status == fs::IoStatus::ok) {
            out.append(buffer, r.bytes);
            continue;
        }
        if (r.status == fs::IoStatus::would_block)
            return Read::would_block;
        // The end, or a failed read, which is the end as well.
        m_output.reset();
        return Read::ended;
    }
    return m_output ? Read::data : Read::ended;
}

CgiBridge::CgiBridge(fs::Poller& poller, const fs::Wakeup& wakeup, std::size_t max_running)
    : m_poller(poller), m_pool(max_running, wakeup), m_max_running(std::max<std::size_t>(1, max_running))
{
}

CgiBridge::~CgiBridge()
{
    shut_down();
}

CgiBridge::Submitted CgiBridge::submit(Start request, CgiListener& listener)
{
    auto owned = std::make_unique<CgiRun>();
    CgiRun& run = *owned;
    run.m_id = m_next_id++;
    run.m_listener = &listener;
    run.m_library = request.library;
    run.m_program = std::move(request.program);
    run.m_input = std::move(request.input);
    run.m_environment = std::make_shared<const std::vector<char>>(std::move(request.environment));
    m_runs.emplace(run.m_id, std::move(owned));

    if (m_running >= m_max_running) {
        m_waiting.push_back(run.m_id);
        return Submitted{Outcome::waiting, &run, {}};
    }
    std::string log_line;
    if (!start(run, log_line)) {
        m_runs.erase(run.m_id);
        return Submitted{Outcome::failed, nullptr, std::move(log_line)};
    }
    return Submitted{Outcome::started, &run, {}};
}

bool CgiBridge::start(CgiRun& run, std::string& log_line)
{
    auto pipe = fs::make_pipe();
    if (!pipe) {
        log_line = "Could not create CGI output pipe!";
        return false;
    }
    if (run.m_library) {
        LibraryCall call;
        call.id = run.m_id;
        call.main = run.m_library->main;
        call.input = run.m_input.release();
        call.output = pipe->write_end.release();
        call.environment = run.m_environment;
        m_pool.submit(std::move(call));
    } else {
        std::vector<char> block = *run.m_environment;
        auto pointers = environment_pointers(block);
        fs::SpawnRequest request;
        request.program = run.m_program;
        request.directory = fs::directory_of(run.m_program);
        request.standard_input = run.m_input.get();
        request.standard_output = pipe->write_end.get();
        request.environment = pointers.data();
        auto child = fs::spawn_program(request);
        // Our copies of the body and of the write end go now, so the pipe
        // ends when the program (and whatever it started) is done with it.
        run.m_input.reset();
        pipe->write_end.reset();
        if (!child) {
            log_line = text::format("Could not run %s, error code %d", run.m_program.c_str(), child.error().code);
            return false;
        }
        run.m_pid = child->pid;
        run.m_ended = std::move(child->ended);
        if (run.m_ended &&
            !m_poller.add(run.m_ended.get(), fs::Poller::readable, make_token(TokenKind::cgi_exit, run.m_id)))
            run.m_ended.reset();  // collected by sweep() instead
    }
    run.m_environment.reset();
    run.m_output = std::move(pipe->read_end);
    if (!m_poller.add(run.m_output.get(), fs::Poller::readable, make_token(TokenKind::cgi_output, run.m_id))) {
        // Without events the output could never be read: treat it as ended.
        run.m_output.reset();
    }
    run.m_running = true;
    ++m_running;
    return true;
}

bool CgiBridge::release(CgiRun* run, bool end_program)
{
    if (!run)
        return false;
    std::uint64_t id = run->m_id;
    auto waiting = std::find(m_waiting.begin(), m_waiting.end(), id);
    if (waiting != m_waiting.end()) {
        m_waiting.erase(waiting);
        m_runs.erase(id);
        return false;
    }
    run->m_listener = nullptr;
    if (end_program && run->m_pid > 0)
        fs::kill_group(run->m_pid);
    bool open = run->output_open();
    drain(*run);
    forget_if_done(id);
    return open;
}

void CgiBridge::drain(CgiRun& run)
{
    std::string discard;
    while (run.read(discard, 64 * 1024) == CgiRun::Read::data)
        discard.clear();
}

void CgiBridge::on_output_event(std::uint64_t id)
{
    auto it = m_runs.find(id);
    if (it == m_runs.end())
        return;
    CgiRun& run = *it->second;
    if (run.m_listener) {
        run.m_listener->cgi_readable();
        return;
    }
    drain(run);
    forget_if_done(id);
}

void CgiBridge::on_exit_event(std::uint64_t id)
{
    auto it = m_runs.find(id);
    if (it == m_runs.end())
        return;
    CgiRun& run = *it->second;
    if (run.m_pid > 0 && fs::collect(run.m_pid)) {
        run.m_pid = -1;
        run.m_ended.reset();
        finished(run);
    }
}

void CgiBridge::on_wakeup()
{
    for (std::uint64_t id : m_pool.take_finished()) {
        auto it = m_runs.find(id);
        if (it != m_runs.end())
            finished(*it->second);
    }
}

void CgiBridge::sweep()
{
    std::vector<std::uint64_t> ended;
    for (auto& [id, run] : m_runs) {
        if (run->m_pid > 0 && !run->m_ended && fs::collect(run->m_pid))
            ended.push_back(id);
    }
    for (std::uint64_t id : ended) {
        auto it = m_runs.find(id);
        if (it == m_runs.end())
            continue;
        it->second->m_pid = -1;
        finished(*it->second);
    }
}

void CgiBridge::finished(CgiRun& run)
{
    if (!run.m_running)
        return;
    run.m_running = false;
    --m_running;
    std::uint64_t id = run.m_id;
    forget_if_done(id);
    start_waiting();
}

void CgiBridge::start_waiting()
{
    while (m_running < m_max_running && !m_waiting.empty()) {
        std::uint64_t id = m_waiting.front();
        m_waiting.pop_front();
        auto it = m_runs.find(id);
        if (it == m_runs.end())
            continue;
        CgiRun& run = *it->second;
        std::string log_line;
        if (start(run, log_line)) {
            if (run.m_listener)
                run.m_listener->cgi_started();
        } else {
            CgiListener* listener = run.m_listener;
            m_runs.erase(it);
            if (listener)
                listener->cgi_failed(log_line);
        }
    }
}

void CgiBridge::forget_if_done(std::uint64_t id)
{
    auto it = m_runs.find(id);
    if (it == m_runs.end())
        return;
    const CgiRun& run = *it->second;
    if (!run.m_listener && !run.m_running && !run.m_output && run.m_pid < 0)
        m_runs.erase(it);
}

void CgiBridge::shut_down()
{
    m_waiting.clear();
    for (auto& [id, run] : m_runs) {
        if (run->m_pid > 0) {
            fs::kill_group(run->m_pid);
            (void)fs::wait_for(run->m_pid);
            run->m_pid = -1;
        }
        run->m_output.reset();
    }
    // The libraries' ShutDown must not overlap a Main still running.
    m_pool.wait_idle();
    m_runs.clear();
    m_running = 0;
}

}  // namespace corvane::webserver
