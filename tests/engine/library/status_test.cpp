// Another process reads the running engine's status record and session
// slots, and asks it to end a session, through Corvane.so's exports.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "common/log/log_file.h"
#include "common/platform/files.h"
#include "engine/core/lifecycle/engine.h"
#include "tests/engine/core/lifecycle/engine_tree.h"
#include "tests/support/child.h"

using namespace corvane::lifecycle;
using corvane::testing::Child;
using corvane::testing::EngineTree;
namespace fs = corvane::platform;

namespace {

template <typename F>
bool eventually(F condition)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

std::string probe(std::vector<std::string> args)
{
    args.insert(args.begin(), {STATUS_PROBE, CORVANE_ENGINE_LIBRARY});
    Child child(args);
    std::string out = child.read_all();
    child.wait();
    return out;
}

std::int32_t sessions_counted(Engine& engine)
{
    std::int32_t record[9] = {};
    engine.get_status(record);
    return record[1];
}

}  // namespace

TEST(StatusFromAnotherProcess, SeesCountersSlotsAndEndsASession)
{
    EngineTree tree;
    tree.set("Session", "Maximum", "5");
    ASSERT_TRUE(fs::make_directory(tree.path("Users/jsmith")));
    ASSERT_TRUE(fs::write_file_atomic(tree.path("Users/jsmith/User.ini"),
                                      "[User]\nFullName=Jo Smith\n[MailHost1]\nMailbox=Work\nEMail=jo@example.org\n"));
    ASSERT_TRUE(tree.engine().start_up(StartOptions{std::chrono::milliseconds(500)}));
    std::string first_id, second_id;
    {
        corvane::log::RequestLog buffer(&tree.engine().log());
        auto first = tree.engine().sessions().create("JSmith", "192.0.2.7", buffer);
        auto second = tree.engine().sessions().create("other", "127.0.0.1", buffer);
        ASSERT_TRUE(first && second);
        first_id = first->id();
        second_id = second->id();
    }
    ASSERT_TRUE(eventually([&] { return sessions_counted(tree.engine()) == 2; }));

    std::istringstream status(probe({"status"}));
    std::int32_t counters[9];
    for (auto& c : counters)
        status >> c;
    EXPECT_GT(counters[0], 1700000000) << "start time";
    EXPECT_EQ(counters[1], 2) << "sessions";
    EXPECT_EQ(counters[2], 0) << "engine errors";
    EXPECT_EQ(counters[3], 5) << "maximum";
    for (int i = 4; i < 9; ++i)
        EXPECT_EQ(counters[i], 0) << i;

    std::string slots = probe({"slots", "2"});
    std::time_t created = tree.engine().sessions().find_by_id(first_id)->last_access();
    EXPECT_NE(slots.find("size 800\n"), std::string::npos) << slots;
    EXPECT_NE(slots.find(first_id + "|192.0.2.7|" + std::to_string(created) + "|JSmith|Jo Smith|jo@example.org\n"),
              std::string::npos)
        << slots;
    EXPECT_NE(slots.find(second_id + "|127.0.0.1|"), std::string::npos) << slots;

    // Two kills in a row: the second finds the first pending.
    EXPECT_EQ(probe({"kill", first_id, second_id}), "1\n1\n");
    auto area = StatusArea::open_running(status_segment_name(), fs::SharedMemory::Access::read_only);
    ASSERT_TRUE(area);
    auto pending = area->pending_kill();
    EXPECT_TRUE(!pending || *pending == first_id) << "the second kill must not replace the first";

    ASSERT_TRUE(eventually([&] { return !tree.engine().sessions().find_by_id(first_id); })) << "ended within a round";
    ASSERT_TRUE(eventually([&] { return sessions_counted(tree.engine()) == 1; }));
    EXPECT_TRUE(tree.engine().sessions().find_by_id(second_id)) << "the refused kill was not carried out";
    EXPECT_NE(probe({"slots", "1"}).find(second_id + "|"), std::string::npos);
    tree.engine().shut_down();

    std::istringstream after(probe({"status"}));
    std::int32_t value = -1, sum = 0;
    while (after >> value)
        sum |= value;
    EXPECT_EQ(sum, 0) << "no engine, no counters";
    EXPECT_EQ(probe({"kill", "ABCDEFG"}), "1\n") << "never 0, even without an engine";
}
