// Template output: a 20 KB page with 200 tags (values of a few words, ten
// of the tags conditions on a settings file), written to a sink that only
// counts. Also the one-time preparation of the same page.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/templates/expander.h"
#include "engine/core/templates/languages.h"
#include "engine/core/templates/template_store.h"

namespace {

using namespace corvane;
using namespace corvane::templates;

class CountingStream final : public cgi::OutputStream {
public:
    ~CountingStream() override { finish(); }

protected:
    bool sink(std::string_view bytes) override
    {
        benchmark::DoNotOptimize(bytes.data());
        return true;
    }
};

class ValueTags final : public TagProvider {
public:
    void expand_tag(std::string_view tag, cgi::OutputStream& out) override
    {
        out.write(tag.size() % 2 ? "Anna Example" : "<b>Inbox</b> (3)");
    }
};

// 200 tags in about 20 KB: value tags and five IF/ELSE/ENDIF groups, with
// marked texts and ordinary page markup between them.
std::string make_page()
{
    std::string page = "<!DOCTYPE html>\n<html lang=\"<$lang$>\"><head><title>[$Inbox$]</title></head><body>\n";
    int tags = 1;
    for (int row = 0; tags + 8 <= 200; ++row) {
        page +=
            "<tr class=\"row\"><td class=\"from\"><$from$></td><td class=\"subject\">"
            "<a href=\"<$link$>&amp;View=Message&amp;Number=17\"><$subject$></a></td>"
            "<td class=\"date\"><$date$></td><td>[$Size$] <$size$></td></tr>\n"
            "<!-- a row of the message list, with the usual amount of markup around it -->\n";
        tags += 5;
        if (row % 8 == 0) {
            page += "<$IF SYS:General:CaseSensitivePasswords$><span>yes</span><$ELSE$>no<$ENDIF$>\n";
            tags += 3;
        }
    }
    for (; tags < 200; ++tags)
        page += "<$user$> ";
    while (page.size() < 20 * 1024)
        page += "<p class=\"filler\">Text between the tags that is copied to the response unchanged.</p>\n";
    page += "</body></html>\n";
    return page;
}

const std::string& settings_path()
{
    static const std::string path = [] {
        char dir_template[] = "/tmp/corvane-template-bench-XXXXXX";
        std::string dir = ::mkdtemp(dir_template);
        std::string file = dir + "/Corvane.ini";
        (void)platform::write_file_atomic(file, "[General]\nCaseSensitivePasswords=Yes\n");
        return file;
    }();
    return path;
}

void BM_ExpandPage(benchmark::State& state)
{
    LanguageTables tables = LanguageTables::parse("[en]\n002=Inbox\n100=Size\n", "en");
    const std::string page = prepare_template(make_page(), tables);
    std::size_t tag_count = 0;
    for (std::size_t pos = 0; (pos = page.find("<$", pos)) != std::string::npos; pos += 2)
        ++tag_count;
    ini::Profile global(settings_path());
    ValueTags tags;
    CountingStream out;
    for (auto _ : state)
        expand(page, ExpandContext{out, tags, &global, nullptr});
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
    state.counters["template_bytes"] = static_cast<double>(page.size());
    state.counters["tags"] = static_cast<double>(tag_count);
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExpandPage);

void BM_PreparePage(benchmark::State& state)
{
    LanguageTables tables =
        LanguageTables::parse("[en]\n002=Inbox\n100=Size\n[de]\n002=Posteingang\n100=Größe\n", "de");
    const std::string raw = make_page();
    for (auto _ : state)
        benchmark::DoNotOptimize(prepare_template(raw, tables));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * raw.size()));
}
BENCHMARK(BM_PreparePage);

}  // namespace

BENCHMARK_MAIN();
