#include "engine/core/sessions/session_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "common/ini/profile.h"
#include "common/log/log_file.h"
#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/sessions/shared_slots.h"
#include "tests/support/store_seed.h"
#include "tests/support/temp_dir.h"

using namespace corvane::sessions;
using corvane::testing::TempDir;
namespace fs = corvane::platform;
namespace ini = corvane::ini;
namespace log = corvane::log;

namespace {

// 2026-12-02 10:00:00 UTC.
constexpr std::time_t start_time = 1796205600;

// Places the welcome message, or says it could not.
class Welcome final : public WelcomeMessage {
public:
    bool place(corvane::accounts::UserRecord&, log::Logger&) override
    {
        ++asked;
        return placed;
    }
    bool placed = false;
    int asked = 0;
};

class SessionTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        ASSERT_TRUE(fs::make_directory(m_tmp / "Temp"));
        ASSERT_TRUE(fs::make_directory(m_tmp / "Users"));
        log::LogSettings log_settings;
        log_settings.directory = m_tmp.path();
        m_log = std::make_unique<log::LogFile>(log_settings);
        m_settings.temp_dir = m_tmp / "Temp";
        m_accounts.settings = &m_engine_ini;
        m_accounts.codec = &m_codec;
        m_accounts.user_dir = m_tmp / "Users";
        m_accounts.fixed_folders = [](std::string_view) {
            return std::vector<std::string>{"Inbox", "Drafts", "Sent", "Trash"};
        };
        make_table();
    }

    void make_table(std::size_t slots = 200)
    {
        m_table.reset();
        SessionTable::Options options;
        options.log = m_log.get();
        options.slot_capacity = slots;
        options.settings = [this] { return m_settings; };
        options.load_user = [this](std::string_view name, log::Logger&) {
            auto user = corvane::accounts::UserRecord::load(m_accounts, name);
            return user ? std::move(*user) : nullptr;
        };
        options.welcome = &m_welcome;
        options.count_stuck = [this] { ++m_stuck; };
        m_table = std::make_unique<SessionTable>(std::move(options));
    }

    SessionHold create(const std::string& user, const std::string& address = "10.1.2.3")
    {
        log::RequestLog request(m_log.get());
        return m_table->create(user, address, request);
    }

    std::string log_text()
    {
        auto text = fs::read_file(m_tmp / "Corvane.log");
        return text ? *text : "";
    }
    int occurrences(const std::string& needle)
    {
        std::string all = log_text();
        int n = 0;
        for (auto pos = all.find(needle); pos != std::string::npos; pos = all.find(needle, pos + 1))
            ++n;
        return n;
    }

    TempDir m_tmp;
    fs::ManualClock m_clock{start_time};
    fs::ScopedClock m_scoped{m_clock};
    std::unique_ptr<log::LogFile> m_log;
    SessionSettings m_settings;
    std::unique_ptr<SessionTable> m_table;
    int m_stuck = 0;

    ini::Profile m_engine_ini{m_tmp / "Corvane.ini"};
    corvane::codec::PasswordCodec m_codec{corvane::codec::key_path_for(m_tmp / "Corvane.ini")};
    corvane::accounts::AccountsContext m_accounts;
    Welcome m_welcome;
};

}  // namespace

TEST_F(SessionTableTest, MaximumRefusesFurtherSessionsUntilOneEnds)
{
    m_settings.maximum = 2;
    SessionHold a = create("anna");
    SessionHold b = create("bert");
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(create("carl")) << "the third session must be refused";

    std::string a_dir = a->temp_dir();
    EXPECT_TRUE(fs::is_directory(a_dir));
    EXPECT_TRUE(a.kill());
    EXPECT_FALSE(fs::exists(a_dir)) << "a session's directory lives exactly as long as the session";
    EXPECT_TRUE(create("carl"));

    // Maximum is read at each call, but never beyond the slots mapped.
    b.release();
    m_settings.maximum = 500;
    make_table(3);
    std::vector<SessionHold> holds;
    for (int i = 0; i < 4; ++i)
        holds.push_back(create("user" + std::to_string(i)));
    EXPECT_TRUE(holds[2]);
    EXPECT_FALSE(holds[3]) << "got a fourth session with three slots";
}

TEST_F(SessionTableTest, AnAccountHoldsItsLimitTheIdlestEndingFirst)
{
    m_settings.maximum_per_user = 3;
    // Three sessions of one account, the second idle longest.
    std::vector<std::string> ids;
    for (std::time_t idle : {100, 300, 200}) {
        SessionHold hold = create("alice");
        ASSERT_TRUE(hold);
        ids.push_back(hold->id());
        hold->set_last_access(start_time - idle);
    }
    SessionHold fourth = create("ALICE");
    ASSERT_TRUE(fourth) << "an idle session of the account makes room";
    EXPECT_FALSE(m_table->find_by_id(ids[1])) << "the session idle longest ends first";
    EXPECT_TRUE(m_table->find_by_id(ids[0]) && m_table->find_by_id(ids[2]));
    EXPECT_EQ(m_table->count(), 3u);
    EXPECT_EQ(occurrences("Session " + ids[1] + " of ALICE ended: the account holds 3 sessions"), 1) << log_text();
    EXPECT_EQ(occurrences("Session expired"), 1);

    // All of them in use: the next is refused, and says why; other
    // accounts still get theirs.
    std::vector<SessionHold> busy;
    for (const std::string& id : {ids[0], ids[2]})
        busy.push_back(m_table->find_by_id(id));
    log::RequestLog request(m_log.get());
    Refusal why = Refusal::none;
    EXPECT_FALSE(m_table->create("alice", "10.1.2.3", request, SessionUse::browser, &why));
    EXPECT_EQ(why, Refusal::account_full);
    EXPECT_EQ(m_table->count(), 3u);
    SessionHold bob = create("bob");
    EXPECT_TRUE(bob);

    // The table's own limit has its own reason; 0 per user means no limit.
    m_settings.maximum = 4;
    EXPECT_FALSE(m_table->create("carl", "10.1.2.3", request, SessionUse::browser, &why));
    EXPECT_EQ(why, Refusal::table_full);
    m_settings.maximum = 200;
    m_settings.maximum_per_user = 0;
    EXPECT_TRUE(m_table->create("alice", "10.1.2.3", request, SessionUse::browser, &why));
    EXPECT_EQ(why, Refusal::none);
}

TEST_F(SessionTableTest, ManyLogonsOfOneAccountAtOnceNeverExceedItsLimit)
{
    m_settings.maximum_per_user = 3;
    std::atomic<int> made{0};
    std::atomic<int> refused{0};
    std::atomic<int> held{0};
    std::atomic<int> most{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 30; ++i) {
                log::RequestLog request(m_log.get());
                Refusal why = Refusal::none;
                SessionHold hold = m_table->create("alice", "10.1.2.3", request, SessionUse::client_program, &why);
                if (!hold) {
                    EXPECT_EQ(why, Refusal::account_full);
                    ++refused;
                    continue;
                }
                ++made;
                // A held session is never ended for another, so the holds
                // alive at once are live sessions of the account.
                int now = ++held;
                for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
                }
                m_clock.advance(1);
                --held;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_LE(most.load(), 3);
    EXPECT_LE(m_table->count(), 3u);
    EXPECT_GT(made.load(), 0);
    EXPECT_EQ(made.load() + refused.load(), 180);
    // Sessions made for a client program are found as such.
    SessionHold found = m_table->find_by_user("Alice", SessionUse::client_program);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->use(), SessionUse::client_program);
    EXPECT_FALSE(m_table->find_by_user("alice", SessionUse::browser));
}

TEST_F(SessionTableTest, IdsAreDistinctSevenLetterWordsFoundOnlyExactly)
{
    std::set<std::string> ids;
    std::vector<SessionHold> holds;
    for (int i = 0; i < 50; ++i) {
        holds.push_back(create("user" + std::to_string(i)));
        ASSERT_TRUE(holds.back());
        const std::string& id = holds.back()->id();
        EXPECT_TRUE(is_session_id(id)) << id;
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 50u);

    std::string id = holds[7]->id();
    SessionHold found = m_table->find_by_id(id);
    ASSERT_TRUE(found);
    EXPECT_EQ(found.get(), holds[7].get());
    EXPECT_EQ(found->busy_count(), 2);
    std::string lower = id;
    for (char& c : lower)
        c = static_cast<char>(c - 'A' + 'a');
    EXPECT_FALSE(m_table->find_by_id(lower)) << "ids compare with regard to case";
    EXPECT_FALSE(m_table->find_by_id(id.substr(0, 6)));
    EXPECT_FALSE(m_table->find_by_id(id + "A"));
    EXPECT_FALSE(is_session_id("ABCDEFg"));
    EXPECT_FALSE(is_session_id("ABCDEF"));
}

TEST_F(SessionTableTest, FindByUserComparesSixteenCharactersWithoutCase)
{
    SessionHold jsmith = create("jsmith");
    SessionHold longer = create("averyveryverylongname");
    ASSERT_TRUE(jsmith && longer);

    struct Case {
        const char* wanted;
        Session* expected;
    } cases[] = {
        {"JSmith", jsmith.get()},
        {"jsmith", jsmith.get()},
        {"jsmit", nullptr},
        {"jsmithe", nullptr},
        {"AVERYVERYVERYLONGXYZ", longer.get()},  // other case, differs after the 16th
        {"averyveryverXlongname", nullptr},      // differs at the 13th
        {"averyveryverylonXYZ", longer.get()},   // differs only after the 16th
        {"averyveryverylon", longer.get()},      // exactly the first 16
    };
    for (const auto& c : cases) {
        SessionHold found = m_table->find_by_user(c.wanted);
        EXPECT_EQ(found.get(), c.expected) << c.wanted;
    }
}

TEST_F(SessionTableTest, IdleLimitsDependOnTheView)
{
    SessionHold compose = create("composer");
    SessionHold list = create("reader");
    ASSERT_TRUE(compose && list);
    compose->set_current_view(view_compose);
    list->set_current_view(view_list);
    std::string compose_id = compose->id();
    std::string list_id = list->id();
    std::string list_dir = list->temp_dir();
    compose.release();
    list.release();

    m_clock.advance(20 * 60);
    m_table->expire_idle();
    EXPECT_EQ(m_table->count(), 2u) << "exactly 20 idle minutes is not yet too long";

    m_clock.advance(1);
    m_table->expire_idle();
    EXPECT_FALSE(m_table->find_by_id(list_id)) << "a List session idle for more than 20 minutes ends";
    EXPECT_FALSE(fs::exists(list_dir));
    EXPECT_TRUE(m_table->find_by_id(compose_id));

    m_clock.set(start_time + 119 * 60);
    m_table->expire_idle();
    EXPECT_TRUE(m_table->find_by_id(compose_id)) << "a Compose session survives 119 idle minutes";

    m_clock.set(start_time + 120 * 60 + 1);
    m_table->expire_idle();
    EXPECT_EQ(m_table->count(), 0u);

    std::string log = log_text();
    EXPECT_NE(log.find("Trying to delete session " + list_id + "... \r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[" + list_id + "] Expiring session " + list_id + "..."), std::string::npos) << log;
    EXPECT_EQ(occurrences("Session expired"), 2);
}

TEST_F(SessionTableTest, TouchKeepsASessionAliveAndRecordsLastAccess)
{
    SessionHold hold = create("jsmith");
    ASSERT_TRUE(hold);
    m_clock.advance(15 * 60);
    m_table->touch(*hold);
    EXPECT_EQ(hold->last_access(), start_time + 15 * 60);
    std::string settings_path = hold->user()->ini_path();
    hold.release();

    EXPECT_EQ(ini::Profile(settings_path).text("Stats", "LastAccess", ""), "2026-12-02 10:15:00");
    m_clock.advance(15 * 60);
    m_table->expire_idle();
    EXPECT_EQ(m_table->count(), 1u) << "touched 15 minutes ago";
}

TEST_F(SessionTableTest, KillOfAHeldSessionCompletesWhenTheLastHolderLeaves)
{
    SessionHold request = create("jsmith");
    ASSERT_TRUE(request);
    std::string id = request->id();
    std::string dir = request->temp_dir();

    // An administrative kill while a request holds the session.
    log::RequestLog buffer(m_log.get());
    EXPECT_FALSE(m_table->delete_by_id(id, buffer));
    buffer.flush();
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_EQ(request->delete_attempts(), 1);

    // A second holder kills (a logout) while the first still holds it.
    SessionHold logout = m_table->find_by_id(id);
    ASSERT_TRUE(logout);
    EXPECT_FALSE(logout.kill());
    EXPECT_EQ(m_table->count(), 1u);

    request.release();
    EXPECT_EQ(m_table->count(), 0u) << "the release of the last holder ends the session";
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_NE(log_text().find("Could not delete session " + id + ". (count = 1)"), std::string::npos) << log_text();

    // Unknown ids are logged and survived.
    log::RequestLog unknown(m_log.get());
    EXPECT_FALSE(m_table->delete_by_id("NOSUCHX", unknown));
    EXPECT_FALSE(m_table->delete_by_id(std::string("AB\r\nCD", 6), unknown));
}

TEST_F(SessionTableTest, ASessionHeldThroughSixtyAttemptsIsStuckAndHidden)
{
    SessionHold request = create("JSmith");
    ASSERT_TRUE(request);
    std::string id = request->id();
    for (int attempt = 1; attempt <= 59; ++attempt) {
        log::RequestLog buffer(m_log.get());
        EXPECT_FALSE(m_table->delete_by_id(id, buffer));
    }
    EXPECT_EQ(m_stuck, 0);
    EXPECT_TRUE(m_table->find_by_user("jsmith"));
    {
        log::RequestLog buffer(m_log.get());
        EXPECT_FALSE(m_table->delete_by_id(id, buffer));
    }
    EXPECT_EQ(m_stuck, 1) << "counted once, at the 60th attempt";
    EXPECT_FALSE(m_table->find_by_user("jsmith")) << "a stuck session must not catch the user's next logon";
    EXPECT_EQ(request->user_name(), "*JSmith*");
    EXPECT_EQ(occurrences("Could not delete session " + id + "! (count = 1)"), 1);

    for (int attempt = 0; attempt < 10; ++attempt) {
        log::RequestLog buffer(m_log.get());
        EXPECT_FALSE(m_table->delete_by_id(id, buffer));
    }
    EXPECT_EQ(m_stuck, 1);
    EXPECT_EQ(request->delete_attempts(), 60);
    EXPECT_EQ(occurrences("Could not delete session " + id + "!"), 1);

    // A new logon of the user gets a session of its own.
    SessionHold fresh = create("JSmith");
    ASSERT_TRUE(fresh);
    EXPECT_EQ(m_table->find_by_user("JSMITH").get(), fresh.get());

    request.release();
    EXPECT_FALSE(m_table->find_by_id(id)) << "it ends when its holders finally leave";
}

TEST_F(SessionTableTest, TheEndOfASessionTidiesTheUsersMail)
{
    using namespace corvane::testing;
    const std::string dir = m_tmp / "Users/u";
    auto seed = [&] {
        ASSERT_TRUE(fs::make_directories(dir));
        ASSERT_TRUE(fs::write_file_atomic(dir + "/User.ini", "[User]\nEmptyTrash=Yes\n"));
        seed_store(dir, 3, {{1, "Inbox", flag_downloaded | flag_new}, {2, "Trash"}});
        ini::clear_cache();
    };

    seed();
    SessionHold hold = create("u");
    ASSERT_TRUE(hold);
    EXPECT_TRUE(hold.kill());
    auto stored = stored_index(dir);
    EXPECT_EQ(stored.count(2), 0u) << "the Trash is emptied as the user asks";
    EXPECT_EQ(stored[1].flags & flag_new, 0u);
    EXPECT_EQ(occurrences("Emptying trash for u\r\n"), 1);
    EXPECT_EQ(ini::Profile(dir + "/User.ini").text("Stats", "MessageCount", ""), "1") << "released";

    // A StatusCheck session only looks: its end leaves the mail as it is.
    seed();
    SessionHold status = create("u");
    status->set_status_check(true);
    EXPECT_TRUE(status.kill());
    EXPECT_EQ(stored_index(dir).count(2), 1u);
    EXPECT_EQ(occurrences("Emptying trash for u\r\n"), 1);
}

TEST_F(SessionTableTest, TheEndWaitsForTheRunningRequest)
{
    SessionHold request = create("jsmith");
    ASSERT_TRUE(request);
    std::string id = request->id();
    std::unique_lock request_lock(request->request_lock());
    // Expiry decided on another thread while the request works.
    request.give_back();
    m_clock.advance(21 * 60);
    std::thread maintenance([this] { m_table->expire_idle(); });
    // Its end has begun (logged before it waits for the request lock): from
    // now on nobody can get hold of the session.
    while (log_text().find("Trying to delete session " + id) == std::string::npos)
        std::this_thread::yield();
    EXPECT_FALSE(m_table->find_by_id(id));
    EXPECT_EQ(m_table->count(), 1u) << "not removed while the request still runs";
    request_lock.unlock();
    maintenance.join();
    EXPECT_EQ(m_table->count(), 0u);
}

TEST_F(SessionTableTest, WelcomeKeyIsRemovedOnlyWhenTheMessageWasPlaced)
{
    EXPECT_TRUE(create("x").kill());
    EXPECT_EQ(m_welcome.asked, 0) << "not asked for";

    ini::Profile user_ini(m_tmp / "Users/x/User.ini");
    ASSERT_TRUE(user_ini.write_yes_no("User", "SendWelcome", true));
    m_welcome.placed = false;
    EXPECT_TRUE(create("x").kill());
    EXPECT_EQ(m_welcome.asked, 1);
    EXPECT_TRUE(user_ini.has_key("User", "SendWelcome")) << "kept for the next session to try again";

    m_welcome.placed = true;
    EXPECT_TRUE(create("x").kill());
    EXPECT_FALSE(user_ini.has_key("User", "SendWelcome"));
}

TEST_F(SessionTableTest, DestroyingTheTableSkipsTheMailWorkButDeletesDirectories)
{
    using namespace corvane::testing;
    const std::string user = m_tmp / "Users/a";
    ASSERT_TRUE(fs::make_directories(user));
    ASSERT_TRUE(fs::write_file_atomic(user + "/User.ini", "[User]\nEmptyTrash=Yes\n"));
    seed_store(user, 2, {{1, "Trash"}});
    SessionHold a = create("a");
    std::string dir = a->temp_dir();
    ASSERT_TRUE(fs::write_file_atomic(dir + "/.headers.txt", "To: x\r\n"));
    ASSERT_TRUE(fs::make_directory(dir + "/.work"));
    ASSERT_TRUE(fs::write_file_atomic(dir + "/.work/part", "x"));
    a.give_back();
    m_table.reset();
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_EQ(stored_index(user).count(1), 1u) << "the Trash stays";
    EXPECT_EQ(ini::Profile(user + "/User.ini").text("Stats", "MessageCount", ""), "1") << "released";
}

TEST_F(SessionTableTest, SlotsCarryTheFieldsAtTheirOffsets)
{
    ASSERT_TRUE(fs::make_directory(m_tmp / "Users/averyveryverylongname"));
    ini::Profile user_ini(m_tmp / "Users/averyveryverylongname/User.ini");
    ASSERT_TRUE(user_ini.update([](ini::Document& doc) {
        doc.set("User", "FullName", "Fallback Name");
        doc.set("MailHost1", "Mailbox", "work");
        doc.set("MailHost1", "EMail", "work@example.org");
        doc.set("MailHost2", "Mailbox", "home");
        doc.set("MailHost2", "FullName", "Jo at Home");
        doc.set("MailHost2", "EMail", "jo@home.example");
        doc.set("MailHost2", "Default", "Yes");
        return true;
    }));
    SessionHold first = create("short", "192.168.7.9");
    m_clock.advance(3);
    SessionHold second = create("averyveryverylongname", "::ffff:10.0.0.1");
    ASSERT_TRUE(first && second);

    std::vector<unsigned char> slots(3 * slot_size, 0xEE);
    EXPECT_EQ(m_table->publish(slots.data(), 3), 2u);
    const unsigned char* s0 = slots.data();
    const unsigned char* s1 = slots.data() + slot_size;

    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s0), 8), first->id() + std::string(1, '\0'));
    const unsigned char address[4] = {192, 168, 7, 9};
    EXPECT_EQ(std::memcmp(s0 + 8, address, 4), 0);
    const unsigned char stamp[4] = {0x20, 0xec, 0x0f, 0x6b};  // 1796205600, little-endian
    EXPECT_EQ(std::memcmp(s0 + 12, stamp, 4), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(s0 + 16), "short");
    EXPECT_EQ(s0[32], 0) << "no mailbox records: empty full name";

    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s1 + 16), 16), std::string("averyveryverylo") + '\0');
    EXPECT_STREQ(reinterpret_cast<const char*>(s1 + 32), "Jo at Home");
    EXPECT_STREQ(reinterpret_cast<const char*>(s1 + 96), "jo@home.example");
    EXPECT_EQ(s1[8], 10);
    EXPECT_EQ(s1[11], 1);
    EXPECT_EQ(s1[12], 0x23) << "three seconds later";
    EXPECT_EQ(slots[2 * slot_size], 0xEE) << "slots beyond the count are left alone";

    SlotContents read = read_slot(s1);
    EXPECT_EQ(read.id, second->id());
    EXPECT_EQ(read.user_name, "averyveryverylo");
    EXPECT_EQ(read.last_access, start_time + 3);
}
