// The quota test before a mail check: whether new mail may be fetched for a
// user, by [UserLimits] EnforceQuotas, MaxMessages and MaxDirSize.
//
// Without enforcement mail is always fetched. With it, each limit of 1 or
// more must not be below the user's message count or mail size in
// kilobytes; a count the user record does not know counts as 0.
#pragma once

namespace corvane::ini {
class Profile;
}
namespace corvane::sessions {
class SessionUser;
}

namespace corvane::dispatch {

bool mail_fetch_allowed(const ini::Profile& settings, const sessions::SessionUser& user);

}  // namespace corvane::dispatch
