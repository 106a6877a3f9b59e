// The request dispatcher: the answer to every Main call.
//
// For each request it decodes the form fields (Number, AddrNum and
// GlobalNum keep all their repeats), picks the language (the "Lang" cookie,
// then the Lang field) and the view (the View field, any case), finds the
// session named by the Session field and then either
// - without a session: gates account creation, hands the NewUser view on,
//   answers StatusCheck in plain text, or checks a logon and creates the
//   session (replacing an idle one of the same user), or
// - with a session: logs out, answers with the redirect page while a mail
//   check of the session still runs, or takes the session's request lock,
//   carries out the actions on the message index and runs the view's
//   handler;
// then writes the page of the view through the template store (the
// "Error" page when the view has none), closes both streams so the client
// has its page, and finishes the work that follows a response (read
// confirmation, mail check, saving the index, the view history) before it
// leaves the request lock and the session.
//
// Browser sessions: a logon sets the session's key cookie beside "User"
// and "Lang", and every later request naming the session must carry it
// (session_keys.h); without it the request is answered as for an expired
// session and the session stays as it is. StatusCheck sessions have none.
//
// Failed logons (in the browser and by StatusCheck) are throttled per
// client address and per address and account (logon_throttle.h): a logon
// that comes while its address is held off is answered at once with the
// wait and a Retry-After line, its password unchecked. Each failure is
// logged once in the form log::texts::authentication_failure, which
// fail2ban matches (packaging/fail2ban).
//
// What it does not do itself: the steps of the feature modules
// (request_steps.h), among them the page tags beyond the frame.
#pragma once

#include <memory>

#include "engine/core/accounts/logon_throttle.h"
#include "engine/core/dispatch/request_steps.h"
#include "engine/core/dispatch/session_keys.h"
#include "engine/core/lifecycle/request.h"

namespace corvane::dispatch {

class Dispatcher final : public lifecycle::RequestHandler {
public:
    explicit Dispatcher(RequestSteps steps);

    void handle(lifecycle::Request& request) override;

    const RequestSteps& steps() const { return m_steps; }
    const SessionKeys& keys() const { return m_keys; }
    accounts::LogonThrottle& throttle() const { return m_throttle; }

private:
    const RequestSteps m_steps;
    SessionKeys m_keys;
    // Failed logons of this engine's life; shared by every request thread.
    mutable accounts::LogonThrottle m_throttle;
};

}  // namespace corvane::dispatch
