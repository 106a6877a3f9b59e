// Every hostile vector of the data files goes through the sanitiser under
// the policies a reader can have; the output is read back by a parser and
// must hold nothing that runs or loads, and must be a fixed point.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/store/html_sanitizer/html_sanitizer.h"
#include "tests/engine/store/html_sanitizer/tree_check.h"

namespace corvane::sanitize {
namespace {

struct Vector {
    std::string file;
    std::size_t number;
    std::string html;
};

std::vector<Vector> load_vectors()
{
    std::vector<std::string> files;
    if (DIR* dir = opendir(VECTORS_DIR)) {
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name.size() > 4 && name.ends_with(".txt"))
                files.push_back(name);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    std::vector<Vector> out;
    for (const std::string& file : files) {
        std::ifstream in(std::string(VECTORS_DIR) + "/" + file, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string sep = "\n=====\n";
        std::size_t pos = text.find(sep);  // the first block describes the file
        std::size_t number = 0;
        while (pos != std::string::npos) {
            std::size_t start = pos + sep.size();
            pos = text.find(sep, start);
            out.push_back(
                {file, ++number, text.substr(start, pos == std::string::npos ? std::string::npos : pos - start)});
        }
    }
    return out;
}

constexpr std::string_view kPrefix = "/Corvane?Session=ABCDEFG&View=Attachment&CID=";

TEST(SanitizerVectors, NothingRunsNothingLoadsAndOutputIsAFixedPoint)
{
    std::vector<Vector> vectors = load_vectors();
    ASSERT_GE(vectors.size(), 200u);
    for (bool remote : {false, true}) {
        Policy policy;
        policy.cid_url_prefix = std::string(kPrefix);
        policy.allow_remote_images = remote;
        Policy plain;  // no session: cid references go too
        plain.allow_remote_images = remote;
        for (const Vector& v : vectors) {
            SCOPED_TRACE(v.file + " #" + std::to_string(v.number) + (remote ? " (remote images on)" : ""));
            std::string out;
            sanitize_html(v.html, policy, out);
            testing::TreeFacts facts = testing::check_tree(out, kPrefix, remote);
            EXPECT_TRUE(facts.problems.empty()) << facts.problems.front() << "\n in: " << v.html << "\n out: " << out;

            std::string once;
            sanitize_html(v.html, plain, once);
            std::string twice;
            sanitize_html(once, plain, twice);
            EXPECT_EQ(twice, once) << "in: " << v.html;
        }
    }
}

}  // namespace
}  // namespace corvane::sanitize
