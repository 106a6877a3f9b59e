// The quota test before a mail check: whether new mail may be fetched for a
// user, by [UserLimits] EnforceQuotas, MaxMessages and MaxDirSize.
//
// Without enforcement mail is always fetched. With it, each limit of 1 or
// more must not be below the user's message count or mail size in
// kilobytes.
#pragma once

namespace corvane::ini {
class Profile;
}
namespace corvane::accounts {
struct MailTotals;
}

namespace corvane::dispatch {

bool mail_fetch_allowed(const ini::Profile& settings, const accounts::MailTotals& mail);

}  // namespace corvane::dispatch
