// The log lines that administrators' scripts and the monitor match, kept
// byte for byte in one table: a change to one of them is a change to what
// others read, and it is made here, deliberately. Lines of our own making
// (the reasons behind a failure, notices of our own) stay at their call
// sites.
//
// Each text is a printf format; the compiler checks the arguments of a call
// against it as it does against a literal. The texts name Windows libraries
// (WLDAP32.DLL) where watchers expect those names.
#pragma once

namespace corvane::log::texts {

// ---- start-up and shut-down of the engine ---------------------------
inline constexpr char initializing[] = "Initializing Corvane...";
inline constexpr char initializing_shared_memory[] = "Initializing shared memory...";
inline constexpr char no_shared_memory[] = "Could not create shared memory, error code %d";
inline constexpr char no_template_dir[] = "Could not find Templates directory!";
inline constexpr char no_languages_ini[] = "Could not find Languages.ini!";
inline constexpr char loading_directory_library[] = "Loading LDAP DLL (WLDAP32.DLL)...";
inline constexpr char no_directory_library[] = "Could not load LDAP DLL!";
inline constexpr char loading_spelling_library[] = "Loading SpellCheck DLL...";
inline constexpr char no_spelling_library[] = "Could not load SpellCheck DLL!";
inline constexpr char no_mime_types[] = "Could not load MimeTypes.cfg!";
inline constexpr char no_maintenance_thread[] = "Could not start maintenance thread!";
inline constexpr char maintenance_notice_sent[] = "Sending shutdown notice to maintenance thread.";
inline constexpr char maintenance_waiting[] = "Waiting for maintenance thread to exit...";
inline constexpr char releasing_shared_memory[] = "Releasing shared memory...";
inline constexpr char releasing_directory_library[] = "Releasing LDAP DLL...";
inline constexpr char releasing_spelling_library[] = "Releasing SpellCheck DLL...";
inline constexpr char stopped[] = "Corvane stopped.";

// ---- the maintenance thread -----------------------------------------
inline constexpr char maintenance_starting[] = "Maintenance thread starting...";
inline constexpr char maintenance_notice_received[] = "Maintenance thread received shutdown notice.";
inline constexpr char maintenance_exiting[] = "Maintenance thread exiting...";
inline constexpr char deleting_session[] = "Deleting session %s.";

// ---- languages and templates ----------------------------------------
inline constexpr char verifying_languages[] = "Verifying Languages.ini...";
inline constexpr char updating_languages[] = "Updating Languages.ini...";
inline constexpr char languages_updated[] = "Languages.ini finished updating.";
inline constexpr char loading_templates[] = "Loading templates for language %s";
inline constexpr char no_template[] = "ERROR! Template %s (%s) doesn't exist.";
inline constexpr char unable_to_expand[] = "Unable to expand: %s";

// ---- sessions and their end -----------------------------------------
inline constexpr char trying_to_delete_session[] = "Trying to delete session %s... ";
inline constexpr char session_busy[] = "Could not delete session %s. (count = %d)";
inline constexpr char session_stuck[] = "Could not delete session %s! (count = %d)";
inline constexpr char expiring_session[] = "Expiring session %s...";
inline constexpr char session_expired[] = "Session expired";
inline constexpr char emptying_trash[] = "Emptying trash for %s";
inline constexpr char emptying_trash_size[] = "Emptying trash for %s (Exceeds Disk Space Threshold)";
inline constexpr char emptying_trash_count[] = "Emptying trash for %s (Exceeds Message Count Threshold)";

// ---- requests, logons and statuscheck -------------------------------
inline constexpr char begin_request[] = "BegRequest: View=%d %s";
inline constexpr char end_request[] = "EndRequest: View=%d %s";
inline constexpr char session_created[] = "Session created for %s from %s";
inline constexpr char bad_logon[] = "Bad logon attempt for user %s";
// Every failed logon or password check, of the engine and of the web
// servers alike, for fail2ban (packaging/fail2ban): the name cannot hold a
// control character, and the address comes last, so a name that looks like
// "x" from 10.0.0.1 can never stand in for the client's own address.
inline constexpr char authentication_failure[] = "Authentication failure for \"%s\" from %s";
inline constexpr char old_session_found[] = "User %s already found, trying to kill old session (%s)";
inline constexpr char old_session_killed[] = "Old session killed for %s";
inline constexpr char old_session_not_killed[] = "Could not kill old session for %s";
inline constexpr char too_many_sessions[] = "Too many sessions to create one for %s.";
inline constexpr char too_many_account_sessions[] = "Too many sessions of user %s in use to create another.";
inline constexpr char logging_out[] = "User %s logging out";
inline constexpr char status_check_created_session[] = "StatusCheck created session for %s from %s";
inline constexpr char status_check_session[] = "StatusCheck session for %s from %s";
inline constexpr char no_status_check_session[] = "Unable to create StatusCheck session for %s.";

}  // namespace corvane::log::texts
