#include "tools/mailscan/mailscan.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/message_index.h"
#include "tests/support/temp_dir.h"

namespace corvane::mailscan {
namespace {

namespace fs = platform;

const std::string multipart =
    "From: a@x\r\nSubject: report\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
    "--b\r\nContent-Type: text/plain\r\n\r\nsee attachment\r\n"
    "--b\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "AAEC/wA=\r\n--b--\r\n";

struct Outcome {
    int code;
    std::string out;
};

// The program itself, as an administrator runs it.
Outcome mailscan(const std::string& args)
{
    std::string command = std::string("CORVANE_INI=/nonexistent ") + MAILSCAN_PROGRAM + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    Outcome run{-1, {}};
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    int status = ::pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(Mailscan, ScanAndPart)
{
    testing::TempDir dir;
    ASSERT_TRUE(fs::write_file_atomic(dir / "m.eml", multipart).ok());
    Outcome scan = mailscan(dir / "m.eml");
    EXPECT_EQ(scan.code, exit_ok) << scan.out;
    EXPECT_NE(scan.out.find("Subject:   report"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("Parts:     2"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("name \"data.bin\""), std::string::npos) << scan.out;

    Outcome part = mailscan("--part 2 " + dir / "m.eml");
    EXPECT_EQ(part.code, exit_ok);
    EXPECT_EQ(part.out, std::string("\x00\x01\x02\xff\x00", 5));
    EXPECT_EQ(mailscan("--part 1 " + dir / "m.eml").out, "see attachment\r\n");
    EXPECT_EQ(mailscan("--part 3 " + dir / "m.eml").code, exit_usage);

    // A message without parts: its body is part 1.
    ASSERT_TRUE(
        fs::write_file_atomic(dir / "q.eml", "Content-Transfer-Encoding: quoted-printable\n\ncaf=C3=A9\n").ok());
    EXPECT_EQ(mailscan("--part 1 " + dir / "q.eml").out, "caf\xc3\xa9\r\n");
    EXPECT_EQ(mailscan(dir / "missing.eml").code, exit_failed);
}

TEST(Mailscan, Usage)
{
    for (const char* args :
         {"", "--part", "--part x file", "--part 0 file", "--check", "--frobnicate x", "--check a b", "-x"}) {
        Outcome run = mailscan(args);
        EXPECT_EQ(run.code, exit_usage) << args;
        EXPECT_NE(run.out.find("usage:"), std::string::npos) << args;
    }
    EXPECT_EQ(mailscan("--version").code, exit_ok);
}

class MailscanStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* folder : {"Inbox", "Trash", "Work"})
            ASSERT_TRUE(fs::make_directory(dir / folder).ok());
        store::MessageIndex index;
        index.open(dir.path());
        for (int i = 0; i < 3; ++i) {
            receiver::MessageReceiver receiver(index, i == 2 ? "Work" : "Inbox", options);
            receiver.begin(0, receiver::StoreMode::whole);
            receiver.write(i == 1 ? multipart
                                  : text::format("Subject: message %d\r\nX-Priority: 1\r\n\r\nbody\r\n", i));
            store::MessageEntry* entry = receiver.finish();
            entry->flags |= store::flags::read;
        }
        ASSERT_TRUE(index.save());
    }

    testing::TempDir dir;
    receiver::ReceiverOptions options;
};

TEST_F(MailscanStore, CheckFindsBothKindsOfStrays)
{
    Outcome clean = mailscan("--check " + dir.path());
    EXPECT_EQ(clean.code, exit_ok) << clean.out;

    ASSERT_TRUE(fs::remove_file(dir / "Inbox/CV000001.msg").ok());
    ASSERT_TRUE(fs::write_file_atomic(dir / "Trash/CV000077.msg", "Subject: stray\r\n\r\n").ok());
    ASSERT_TRUE(fs::write_file_atomic(dir / ".CV000078.incoming", "Subject: cut").ok());
    ASSERT_TRUE(fs::write_file_atomic(dir / "Work/.CV000003.msg.new", "Subject: cut").ok());
    ASSERT_TRUE(fs::write_file_atomic(dir / "Trash/CV000079.att", "stale\x01").ok());
    // A header-only entry whose folder went away is shown nowhere.
    ASSERT_TRUE(fs::append_file(dir / "Messages.idx",
                                "u\x01Home\x01\x01\x01Lost\x01\x01"
                                "0\x01"
                                "80\x01"
                                "CV000080\x01Gone\x01"
                                "0\x01\r\n")
                    .ok());
    auto report = check_user_dir(dir.path());
    ASSERT_TRUE(report);
    EXPECT_EQ(report->missing_files, std::vector<std::string>{"Inbox/CV000001.msg"});
    EXPECT_EQ(report->unindexed_files, std::vector<std::string>{"Trash/CV000077.msg"});
    EXPECT_EQ(report->leftovers, (std::vector<std::string>{"Work/.CV000003.msg.new", ".CV000078.incoming"}));
    EXPECT_EQ(report->hidden_entries, std::vector<std::string>{"Gone/CV000080"});
    EXPECT_EQ(report->stray_part_lists, std::vector<std::string>{"Trash/CV000079.att"});
    Outcome dirty = mailscan("--check " + dir.path());
    EXPECT_EQ(dirty.code, exit_findings);
    EXPECT_NE(dirty.out.find("no index entry: Trash/CV000077.msg"), std::string::npos) << dirty.out;
    EXPECT_EQ(mailscan("--check " + dir / "nope").code, exit_failed);
}

TEST_F(MailscanStore, RebuildRecreatesTheIndex)
{
    const std::string old_index = fs::read_file(dir / "Messages.idx").value();
    ASSERT_TRUE(fs::write_file_atomic(dir / "Messages.idx", "garbage\n").ok());
    ASSERT_TRUE(fs::remove_file(dir / "Inbox/CV000002.att").ok());
    ASSERT_TRUE(fs::write_file_atomic(dir / "Work/CV000100.msg", "Subject: later\r\n\r\n").ok());

    Outcome run = mailscan("--rebuild " + dir.path());
    EXPECT_EQ(run.code, exit_ok) << run.out;
    EXPECT_EQ(fs::read_file(dir / "Messages.idx.bak").value(), "garbage\n");

    store::MessageIndex index;
    index.open(dir.path());
    ASSERT_EQ(index.size(), 4u);
    EXPECT_EQ(index.counter(), 101u);
    const store::MessageEntry& first = *index.entries()[0];
    EXPECT_EQ(first.number, 1u);
    EXPECT_EQ(first.subject, "message 0");
    EXPECT_EQ(first.folder, "Inbox");
    EXPECT_EQ(first.flags, store::flags::downloaded | store::flags::urgent);  // no read flag: unknown
    const store::MessageEntry& second = *index.entries()[1];
    EXPECT_TRUE(second.has(store::flags::multipart));
    EXPECT_TRUE(fs::exists(dir / "Inbox/CV000002.att"));
    EXPECT_EQ(index.entries()[2]->folder, "Work");
    EXPECT_EQ(index.entries()[3]->number, 100u);
    EXPECT_NE(old_index, "");
}

}  // namespace
}  // namespace corvane::mailscan
